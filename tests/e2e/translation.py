"""Prints a text of the program as a language's translation gives it, from that language's
.ts source, with %1, %2, ... filled in from the arguments:

  translation.py TS_FILE CONTEXT ENGLISH [ARGUMENT...]

ENGLISH is the text as the program writes it, with \\n for a line feed. A text that the
.ts does not translate is an error, not English: a test reading the program in a language
must not pass on an untranslated text.
"""
import re
import sys
import xml.etree.ElementTree as ET


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    ts, context, english, args = sys.argv[1], sys.argv[2], sys.argv[3].replace("\\n", "\n"), sys.argv[4:]
    for ctx in ET.parse(ts).getroot().iter("context"):
        if ctx.findtext("name") != context:
            continue
        for message in ctx.iter("message"):
            if message.findtext("source") == english:
                translation = message.find("translation")
                if translation.get("type") == "unfinished" or not translation.text:
                    break
                text = re.sub(r"%([1-9])", lambda m: args[int(m.group(1)) - 1], translation.text)
                sys.stdout.write(text)
                return
    sys.exit("%s: no translation of %r in %s" % (ts, english, context))


if __name__ == "__main__":
    main()
