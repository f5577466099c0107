# Brings a copy of one language's .ts up to date with the program's texts, compiles it,
# and fails when a text of the program has no finished translation in it.
#   cmake -DLUPDATE=... -DLRELEASE=... -DTS=src.ts -DWORK_TS=copy.ts -DQM=out.qm -DSOURCES=list -P translate.cmake
file(COPY_FILE "${TS}" "${WORK_TS}")
execute_process(
  COMMAND "${LUPDATE}" -silent -locations none -no-obsolete -tr-function-alias QT_TRANSLATE_NOOP+=UI_TEXT
          "@${SOURCES}" -ts "${WORK_TS}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed on ${TS}:\n${out}")
endif()

# Every text of the program, with the ones the language lacks or leaves unfinished named.
file(READ "${WORK_TS}" ts)
string(REPLACE ";" "&#59;" ts "${ts}") # a ";" in a text would split CMake's lists
string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation type=\"unfinished\"" unfinished "${ts}")
if(unfinished)
  set(names "")
  foreach(entry IN LISTS unfinished)
    string(REGEX REPLACE "^<source>([^<]*)</source>.*$" "\\1" text "${entry}")
    string(REPLACE "&#59;" ";" text "${text}")
    string(APPEND names "  \"${text}\"\n")
  endforeach()
  message(FATAL_ERROR "${TS} has no finished translation of these texts of the program "
                      "(run: cmake --build <build> --target update_translations, then translate them):\n${names}")
endif()

execute_process(
  COMMAND "${LRELEASE}" "${WORK_TS}" -qm "${QM}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lrelease failed on ${TS}:\n${out}")
endif()
# lrelease's own count: nothing unfinished, nothing left untranslated.
if(NOT out MATCHES "Generated [0-9]+ translation\\(s\\) \\([0-9]+ finished and 0 unfinished\\)"
   OR out MATCHES "Ignored [1-9][0-9]* untranslated")
  message(FATAL_ERROR "lrelease reports texts without a finished translation in ${TS}:\n${out}")
endif()
