<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Builder</name>
    <message>
        <source>file ended early</source>
        <translation>Datei endete vorzeitig</translation>
    </message>
    <message>
        <source>Open %1 fail!</source>
        <translation>%1 kann nicht geöffnet werden!</translation>
    </message>
    <message>
        <source>%1file size != 256K</source>
        <translation>%1: Die Dateigröße ist nicht 256K</translation>
    </message>
    <message>
        <source>Create %1 Fail</source>
        <translation>%1 kann nicht erstellt werden</translation>
    </message>
    <message>
        <source>cannot set the permissions of %1</source>
        <translation>die Zugriffsrechte von %1 können nicht gesetzt werden</translation>
    </message>
    <message>
        <source>Building fail: not found key-word in %1</source>
        <translation>Erstellen fehlgeschlagen: kein Schlüsselwort in %1 gefunden</translation>
    </message>
    <message>
        <source>Building fail: some problem in %1</source>
        <translation>Erstellen fehlgeschlagen: Problem in %1</translation>
    </message>
    <message>
        <source>cannot flush %1</source>
        <translation>%1 kann nicht auf den Datenträger geschrieben werden</translation>
    </message>
    <message>
        <source>cannot close %1</source>
        <translation>%1 kann nicht geschlossen werden</translation>
    </message>
    <message>
        <source>cannot rename the new program to %1</source>
        <translation>das neue Programm kann nicht in %1 umbenannt werden</translation>
    </message>
    <message>
        <source>Build %1 ok!</source>
        <translation>%1 erstellt!</translation>
    </message>
    <message>
        <source>Building fail: %1 (%2)</source>
        <translation>Erstellen fehlgeschlagen: %1 (%2)</translation>
    </message>
    <message>
        <source>cannot read %1</source>
        <translation>%1 kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Building %1... </source>
        <translation>%1 wird erstellt... </translation>
    </message>
    <message>
        <source>IBM-K BIN file: %1</source>
        <translation>IBM-K-BIN-Datei: %1</translation>
    </message>
    <message>
        <source>NonIBM-K BIN file: %1</source>
        <translation>Nicht-IBM-K-BIN-Datei: %1</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
</context>
<context>
    <name>Flash</name>
    <message>
        <source>Don&apos;t turn off the system, Flash is in progress...</source>
        <translation>Nicht ausschalten, die Firmware wird geschrieben...</translation>
    </message>
    <message>
        <source>Flash Completed.</source>
        <translation>Firmware-Update abgeschlossen.</translation>
    </message>
    <message>
        <source>Flash Fail.</source>
        <translation>Firmware-Update fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Write buffer fail!</source>
        <translation>Schreiben in den Puffer fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Read buffer fail!</source>
        <translation>Lesen aus dem Puffer fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Verify fail!</source>
        <translation>Prüfung fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Verify buffer fail!</source>
        <translation>Prüfung des Puffers fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Error reading inquiry data information; error was %1</source>
        <translation>Fehler beim Lesen der Inquiry-Daten; Fehler %1</translation>
    </message>
    <message>
        <source>The flash stopped before anything was written to the drive: %1</source>
        <translation>Das Firmware-Update wurde abgebrochen, bevor etwas auf das Laufwerk geschrieben wurde: %1</translation>
    </message>
    <message>
        <source>The flash stopped after writing to the drive but before the closing request, so the drive keeps its old firmware: %1</source>
        <translation>Das Firmware-Update wurde nach dem Schreiben auf das Laufwerk, aber vor dem abschließenden Befehl abgebrochen; das Laufwerk behält seine alte Firmware: %1</translation>
    </message>
    <message>
        <source>The flash stopped during the closing request, so the drive may hold part of the new firmware: %1</source>
        <translation>Das Firmware-Update wurde während des abschließenden Befehls abgebrochen; das Laufwerk enthält möglicherweise einen Teil der neuen Firmware: %1</translation>
    </message>
    <message>
        <source>Writing new firmware to the drive; an interruption can leave it unusable</source>
        <translation>Neue Firmware wird auf das Laufwerk geschrieben; eine Unterbrechung kann es unbrauchbar machen</translation>
    </message>
    <message>
        <source>
You have successfully completed
installation! The new changes will not take effect
until you reboot your system. Do you want to
reboot your system now?

</source>
        <translation>
Die Installation wurde erfolgreich abgeschlossen!
Die Änderungen werden erst nach einem Neustart
des Systems wirksam. Möchten Sie das System
jetzt neu starten?

</translation>
    </message>
    <message>
        <source>Exit Error</source>
        <translation>Fehler beim Neustart</translation>
    </message>
    <message>
        <source>OpenProcessToken() failed</source>
        <translation>OpenProcessToken() fehlgeschlagen</translation>
    </message>
    <message>
        <source>LookupPrivilegeValue() failed</source>
        <translation>LookupPrivilegeValue() fehlgeschlagen</translation>
    </message>
    <message>
        <source>AdjustTokenPrivileges() failed</source>
        <translation>AdjustTokenPrivileges() fehlgeschlagen</translation>
    </message>
    <message>
        <source>
WARNING:

Current FW:%1 is newer than FW:%2.

Continue update FW:%1 to FW:%2 ?
</source>
        <translation>
WARNUNG:

Die aktuelle Firmware %1 ist neuer als %2.

Firmware %1 trotzdem durch %2 ersetzen?
</translation>
    </message>
    <message>
        <source>
Update FW:%1 to FW:%2 ?
</source>
        <translation>
Firmware %1 durch %2 ersetzen?
</translation>
    </message>
</context>
<context>
    <name>MainForm</name>
    <message>
        <source>An unexpected error occurred.</source>
        <translation>Ein unerwarteter Fehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Drive list</source>
        <translation>Laufwerksliste</translation>
    </message>
    <message>
        <source>IBM-K BIN files</source>
        <translation>IBM-K-BIN-Dateien</translation>
    </message>
    <message>
        <source>Non IBM-K BIN files</source>
        <translation>Nicht-IBM-K-BIN-Dateien</translation>
    </message>
    <message>
        <source>
WARNING:

This flash utility only supports Korvane %1 firmware:%2

We recommend you close all applications in order to run this update!
Don&apos;t turn off the system while the flash is in progress!


Do you wish to continue?
</source>
        <translation>
WARNUNG:

Dieses Programm unterstützt nur Korvane %1 mit der Firmware %2

Bitte schließen Sie vor dem Update alle anderen Anwendungen!
Schalten Sie das System nicht aus, während die Firmware geschrieben wird!


Möchten Sie fortfahren?
</translation>
    </message>
    <message>
        <source>
ERROR:

Can&apos;t found %1firmware:%2 drive !

This flash utility only supports %1 firmware:%2

Detected drives:
</source>
        <translation>
FEHLER:

Kein Laufwerk %1 mit der Firmware %2 gefunden!

Dieses Programm unterstützt nur %1 mit der Firmware %2

Gefundene Laufwerke:
</translation>
    </message>
    <message>
        <source> [Buiding]</source>
        <translation> [Erstellen]</translation>
    </message>
    <message>
        <source>Select drive you want to flash:</source>
        <translation>Laufwerk für das Update wählen:</translation>
    </message>
    <message>
        <source>Select IBM-K BIN file.</source>
        <translation>IBM-K-BIN-Datei wählen.</translation>
    </message>
    <message>
        <source>Select NonIBM-K BIN file.</source>
        <translation>Nicht-IBM-K-BIN-Datei wählen.</translation>
    </message>
    <message>
        <source>Select Non IBM-K BIN file.</source>
        <translation>Nicht-IBM-K-BIN-Datei wählen.</translation>
    </message>
    <message>
        <source>Flash</source>
        <translation>Flashen</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>Erstellen</translation>
    </message>
    <message>
        <source>O.S must be WinNT or Win2000.</source>
        <translation>Das Betriebssystem muss Windows NT oder Windows 2000 sein.</translation>
    </message>
</context>
<context>
    <name>Requests</name>
    <message>
        <source>Only four drives can be listed. These drives were found but are not listed:
</source>
        <translation>Es können nur vier Laufwerke angezeigt werden. Diese Laufwerke wurden gefunden, aber nicht aufgeführt:
</translation>
    </message>
    <message>
        <source>Remove disc, befor to do the flash task.</source>
        <translation>Bitte nehmen Sie die Disc heraus, bevor Sie das Firmware-Update starten.</translation>
    </message>
    <message>
        <source>Error sending SCSI command; error was %1</source>
        <translation>Fehler beim Senden des SCSI-Befehls; Fehler %1</translation>
    </message>
    <message>
        <source>Read buffer short: %1 of %2 bytes returned</source>
        <translation>Puffer unvollständig gelesen: %1 von %2 Bytes erhalten</translation>
    </message>
    <message>
        <source>Error opening: %1</source>
        <translation>Fehler beim Öffnen: %1</translation>
    </message>
    <message>
        <source>Scsi status: %1h, SensCode: %2 %3 %4</source>
        <translation>SCSI-Status: %1h, Sense-Code: %2 %3 %4</translation>
    </message>
    <message>
        <source>Scsi status: %1h</source>
        <translation>SCSI-Status: %1h</translation>
    </message>
</context>
</TS>
