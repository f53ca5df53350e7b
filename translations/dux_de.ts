<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Doctor</name>
    <message>
        <source>All is well: this computer is ready for updates.</source>
        <translation>Alles in Ordnung: Dieser Rechner ist bereit für Aktualisierungen.</translation>
    </message>
    <message>
        <source>1 finding:</source>
        <translation>1 Befund:</translation>
    </message>
    <message>
        <source>%1 findings:</source>
        <translation>%1 Befunde:</translation>
    </message>
    <message>
        <source>Fix:</source>
        <translation>Abhilfe:</translation>
    </message>
    <message>
        <source>%1 may not be opened: its mode %2 lets only its owner read and write it.</source>
        <translation>%1 darf nicht geöffnet werden: Sein Modus %2 lässt nur seinen Eigentümer lesen und schreiben.</translation>
    </message>
    <message>
        <source>%1 may not open %2: the port belongs to the group %3, and %1 is not in it (log out and in again after the fix).</source>
        <translation>%1 darf %2 nicht öffnen: Die Schnittstelle gehört der Gruppe %3, und %1 ist nicht in ihr (nach der Abhilfe ab- und wieder anmelden).</translation>
    </message>
    <message>
        <source>Our udev rule %1 is not installed: module ports are not given to the group %2 and the user at the seat, a modem manager may probe them, and USB adapters keep a slow latency timer.</source>
        <translation>Unsere udev-Regel %1 ist nicht installiert: Modul-Schnittstellen gehören nicht der Gruppe %2 und dem angemeldeten Benutzer, ein Modem-Manager darf sie abfragen, und USB-Adapter behalten einen langsamen Latenz-Timer.</translation>
    </message>
    <message>
        <source>%1&apos;s latency timer is %2 ms: every reply of a module on it waits that long.</source>
        <translation>Der Latenz-Timer von %1 steht auf %2 ms: Jede Antwort eines Moduls daran wartet so lange.</translation>
    </message>
    <message>
        <source>%1 is held by %2: no other program can open it.</source>
        <translation>%1 wird von %2 gehalten: Kein anderes Programm kann sie öffnen.</translation>
    </message>
    <message>
        <source>%1 runs (process %2): it probes serial ports, and its bytes reach a module waiting in its bootloader.</source>
        <translation>%1 läuft (Prozess %2): Er fragt serielle Schnittstellen ab, und seine Bytes erreichen ein Modul, das in seinem Bootloader wartet.</translation>
    </message>
    <message>
        <source>The plug-in folder %1 does not exist.</source>
        <translation>Der Plug-in-Ordner %1 existiert nicht.</translation>
    </message>
    <message>
        <source>The plug-in folder %1 holds no plug-in.</source>
        <translation>Der Plug-in-Ordner %1 enthält kein Plug-in.</translation>
    </message>
    <message>
        <source>The plug-in %1 cannot be loaded: %2</source>
        <translation>Das Plug-in %1 kann nicht geladen werden: %2</translation>
    </message>
    <message>
        <source>The records server cannot be reached, so records wait in this computer&apos;s spool: %1</source>
        <translation>Der Protokoll-Server ist nicht erreichbar, die Protokolle warten daher im Zwischenspeicher dieses Rechners: %1</translation>
    </message>
    <message>
        <source>The records cannot be kept: %1</source>
        <translation>Die Protokolle können nicht gespeichert werden: %1</translation>
    </message>
</context>
<context>
    <name>FirmwareUpdate</name>
    <message>
        <source>Firmware update</source>
        <translation>Firmware-Aktualisierung</translation>
    </message>
    <message>
        <source>Select module</source>
        <translation>Modul auswählen</translation>
    </message>
    <message>
        <source>Actual firmware:</source>
        <translation>Aktuelle Firmware:</translation>
    </message>
    <message>
        <source>Module:</source>
        <translation>Modul:</translation>
    </message>
    <message>
        <source>refresh the device list</source>
        <translation>Geräteliste neu einlesen</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Neu laden</translation>
    </message>
    <message>
        <source>Select firmware</source>
        <translation>Firmware auswählen</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>insert file name</source>
        <translation>Dateinamen eingeben</translation>
    </message>
    <message>
        <source>Size [Bytes]:</source>
        <translation>Größe [Bytes]:</translation>
    </message>
    <message>
        <source>Checksum:</source>
        <translation>Prüfsumme:</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Durchsuchen...</translation>
    </message>
    <message>
        <source>Update firmware</source>
        <translation>Firmware aktualisieren</translation>
    </message>
    <message>
        <source>Hex version:</source>
        <translation>Hex-Version:</translation>
    </message>
    <message>
        <source>Module version:</source>
        <translation>Modulversion:</translation>
    </message>
    <message>
        <source>Progress:</source>
        <translation>Fortschritt:</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Update history</source>
        <translation>Verlauf der Aktualisierung</translation>
    </message>
    <message>
        <source>&lt;!DOCTYPE HTML PUBLIC &quot;-//W3C//DTD HTML 4.0//EN&quot; &quot;http://www.w3.org/TR/REC-html40/strict.dtd&quot;&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name=&quot;qrichtext&quot; content=&quot;1&quot; /&gt;&lt;meta charset=&quot;utf-8&quot; /&gt;&lt;style type=&quot;text/css&quot;&gt;
p, li { white-space: pre-wrap; }
hr { height: 1px; border-width: 0; }
li.unchecked::marker { content: &quot;\2610&quot;; }
li.checked::marker { content: &quot;\2612&quot;; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=&quot; font-family:&apos;Segoe UI&apos;; font-size:9pt; font-weight:400; font-style:normal;&quot;&gt;
&lt;p style=&quot;-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px; font-family:&apos;Courier&apos;; font-size:10pt; font-weight:600;&quot;&gt;&lt;br /&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;!DOCTYPE HTML PUBLIC &quot;-//W3C//DTD HTML 4.0//EN&quot; &quot;http://www.w3.org/TR/REC-html40/strict.dtd&quot;&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name=&quot;qrichtext&quot; content=&quot;1&quot; /&gt;&lt;meta charset=&quot;utf-8&quot; /&gt;&lt;style type=&quot;text/css&quot;&gt;
p, li { white-space: pre-wrap; }
hr { height: 1px; border-width: 0; }
li.unchecked::marker { content: &quot;±0&quot;; }
li.checked::marker { content: &quot;±2&quot;; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=&quot; font-family:&apos;Segoe UI&apos;; font-size:9pt; font-weight:400; font-style:normal;&quot;&gt;
&lt;p style=&quot;-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px; font-family:&apos;Courier&apos;; font-size:10pt; font-weight:600;&quot;&gt;&lt;br /&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>use this tool to update modules</source>
        <translation>mit diesem Werkzeug Module aktualisieren</translation>
    </message>
    <message>
        <source>Select firmware file</source>
        <translation>Firmware-Datei auswählen</translation>
    </message>
    <message>
        <source>Firmware files (*.hex)</source>
        <translation>Firmware-Dateien (*.hex)</translation>
    </message>
    <message>
        <source>Leave file in selection</source>
        <translation>Datei in der Auswahl lassen</translation>
    </message>
    <message>
        <source> Close </source>
        <translation> Schließen </translation>
    </message>
    <message>
        <source>Select firmware file from: </source>
        <translation>Firmware-Datei auswählen aus: </translation>
    </message>
    <message>
        <source>Update %1 with
</source>
        <translation>%1 aktualisieren mit
</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
</context>
<context>
    <name>HostWindow</name>
    <message>
        <source>Records</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Only if changed</source>
        <translation>Nur wenn geändert</translation>
    </message>
    <message>
        <source>Leave a module that already holds the chosen file as it is: it must run the file&apos;s firmware, and its checksum and every page&apos;s sum, read in the bootloader, must equal the file&apos;s; it is then restarted without an erase.</source>
        <translation>Ein Modul, das die gewählte Datei schon enthält, bleibt, wie es ist: Es muss die Firmware der Datei ausführen, und seine Prüfsumme und die Summe jeder Seite, im Bootloader gelesen, müssen denen der Datei gleichen; dann wird es ohne Löschen neu gestartet.</translation>
    </message>
    <message>
        <source>Verify</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Update only compares: the module&apos;s checksum and every page&apos;s sum, read in the bootloader, against the chosen file&apos;s; the pages that differ are named, and the module is restarted without an erase.</source>
        <translation>Aktualisieren vergleicht nur: die Prüfsumme des Moduls und die Summe jeder Seite, im Bootloader gelesen, mit denen der gewählten Datei; abweichende Seiten werden genannt, und das Modul wird ohne Löschen neu gestartet.</translation>
    </message>
    <message>
        <source>Capture the wire</source>
        <translation>Leitung mitschneiden</translation>
    </message>
    <message>
        <source>Capture the wire to</source>
        <translation>Leitung mitschneiden in</translation>
    </message>
    <message>
        <source>Captures (*.pcap)</source>
        <translation>Mitschnitte (*.pcap)</translation>
    </message>
    <message>
        <source>Cannot write the capture %1: %2</source>
        <translation>Der Mitschnitt %1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Every byte on the links goes to %1; click to stop.</source>
        <translation>Jedes Byte auf den Verbindungen geht nach %1; zum Beenden klicken.</translation>
    </message>
    <message>
        <source>Write every byte on the links to a pcap file, to be read with Wireshark.</source>
        <translation>Jedes Byte auf den Verbindungen in eine pcap-Datei schreiben, die Wireshark liest.</translation>
    </message>
    <message>
        <source>dux host</source>
        <translation>dux host</translation>
    </message>
    <message>
        <source>Module</source>
        <translation>Modul</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Typ</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>Werkzeuge</translation>
    </message>
    <message>
        <source>Look for modules</source>
        <translation>Module suchen</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>No module found yet. Connect a module and switch it on, then press &quot;Look for modules&quot;.</source>
        <translation>Noch kein Modul gefunden. Schließen Sie ein Modul an, schalten Sie es ein und drücken Sie dann „Module suchen“.</translation>
    </message>
    <message>
        <source>To write new firmware into a module, open &quot;Firmware Update&quot; in the tool bar, choose the module and a HEX file, then press Update.</source>
        <translation>Um neue Firmware in ein Modul zu schreiben, öffnen Sie „Firmware Update“ in der Werkzeugleiste, wählen Sie das Modul und eine HEX-Datei und drücken Sie dann „Aktualisieren“.</translation>
    </message>
    <message numerus="yes">
        <source>%n module(s)</source>
        <translation>
            <numerusform>%n Modul</numerusform>
            <numerusform>%n Module</numerusform>
        </translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Check this computer</source>
        <translation>Diesen Rechner prüfen</translation>
    </message>
    <message>
        <source>Look for what keeps an update from starting: port access, the udev rule, latency timers, ports held by other programs, a modem manager, the plug-ins and the records.</source>
        <translation>Sucht, was eine Aktualisierung am Start hindert: Zugriff auf Schnittstellen, die udev-Regel, Latenz-Timer, von anderen Programmen gehaltene Schnittstellen, einen Modem-Manager, die Plug-ins und die Protokolle.</translation>
    </message>
    <message>
        <source>Only if newer</source>
        <translation>Nur wenn neuer</translation>
    </message>
    <message>
        <source>Leave a module whose firmware is as new as the chosen file&apos;s, or newer, as it is.</source>
        <translation>Ein Modul, dessen Firmware so neu wie die der gewählten Datei oder neuer ist, bleibt, wie es ist.</translation>
    </message>
    <message>
        <source>Expected SHA-256</source>
        <translation>Erwartete SHA-256</translation>
    </message>
    <message>
        <source>Write only a file with this SHA-256.</source>
        <translation>Nur eine Datei mit dieser SHA-256 schreiben.</translation>
    </message>
    <message>
        <source>Only a file with the SHA-256 %1 is written.</source>
        <translation>Nur eine Datei mit der SHA-256 %1 wird geschrieben.</translation>
    </message>
    <message>
        <source>The SHA-256 of the file to write (empty: any file):</source>
        <translation>Die SHA-256 der zu schreibenden Datei (leer: jede Datei):</translation>
    </message>
    <message>
        <source>&amp;Settings</source>
        <translation>&amp;Einstellungen</translation>
    </message>
    <message>
        <source>Expected SHA-256...</source>
        <translation>Erwartete SHA-256...</translation>
    </message>
    <message>
        <source>Station...</source>
        <translation>Station...</translation>
    </message>
    <message>
        <source>Flash the modules present as the fixtures of a production station: one firmware file, a serial number per unit, pass or fail at a glance.</source>
        <translation>Die vorhandenen Module als Aufnahmen einer Fertigungsstation flashen: eine Firmware-Datei, eine Seriennummer je Gerät, bestanden oder nicht auf einen Blick.</translation>
    </message>
</context>
<context>
    <name>LinkKindRules</name>
    <message>
        <source>USB link %1</source>
        <translation>USB-Verbindung %1</translation>
    </message>
    <message>
        <source>Serial link %1</source>
        <translation>Serielle Verbindung %1</translation>
    </message>
</context>
<context>
    <name>ModuleStateNote</name>
    <message>
        <source>Module state: runs the firmware it already held; it was restarted, not erased.</source>
        <translation>Modulzustand: läuft mit der Firmware, die es schon hatte; es wurde neu gestartet, nicht gelöscht.</translation>
    </message>
    <message>
        <source>Module state: runs its new firmware. The update is done.</source>
        <translation>Modulzustand: läuft mit seiner neuen Firmware. Die Aktualisierung ist abgeschlossen.</translation>
    </message>
    <message>
        <source>Module state: in its bootloader, its firmware not erased yet. Choose the file again, then press Update to try again.</source>
        <translation>Modulzustand: im Bootloader, seine Firmware noch nicht gelöscht. Wählen Sie die Datei erneut und drücken Sie dann „Aktualisieren“, um es noch einmal zu versuchen.</translation>
    </message>
    <message>
        <source>Module state: in its bootloader with no firmware. Choose the file again, then press Update to write the firmware.</source>
        <translation>Modulzustand: im Bootloader ohne Firmware. Wählen Sie die Datei erneut und drücken Sie dann „Aktualisieren“, um die Firmware zu schreiben.</translation>
    </message>
    <message>
        <source>Module state: unknown. Switch the module off and on, then press Refresh.</source>
        <translation>Modulzustand: unbekannt. Schalten Sie das Modul aus und wieder ein und drücken Sie dann „Neu laden“.</translation>
    </message>
    <message>
        <source>Module state: runs its firmware %1. Choose the file again, then press Update to try again.</source>
        <translation>Modulzustand: läuft mit seiner Firmware %1. Wählen Sie die Datei erneut und drücken Sie dann „Aktualisieren“, um es noch einmal zu versuchen.</translation>
    </message>
    <message>
        <source>Module state: in its bootloader, the new firmware stored. Switch it off and on, then press Refresh.</source>
        <translation>Modulzustand: im Bootloader, die neue Firmware gespeichert. Schalten Sie es aus und wieder ein und drücken Sie dann „Neu laden“.</translation>
    </message>
</context>
<context>
    <name>RecordsView</name>
    <message>
        <source>Module key</source>
        <translation>Modulschlüssel</translation>
    </message>
    <message>
        <source>All results</source>
        <translation>Alle Ergebnisse</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Started (UTC)</source>
        <translation>Begonnen (UTC)</translation>
    </message>
    <message>
        <source>Module</source>
        <translation>Modul</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Phase</source>
        <translation>Phase</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>Failure</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Updates per day (UTC) by result</source>
        <translation>Updates pro Tag (UTC) nach Ergebnis</translation>
    </message>
    <message>
        <source>Failures by phase</source>
        <translation>Fehler nach Phase</translation>
    </message>
    <message numerus="yes">
        <source>%n record(s) shown; %1 in the last %2 days</source>
        <translation>
            <numerusform>%n Eintrag angezeigt; %1 in den letzten %2 Tagen</numerusform>
            <numerusform>%n Einträge angezeigt; %1 in den letzten %2 Tagen</numerusform>
        </translation>
    </message>
    <message>
        <source>updated</source>
        <translation>aktualisiert</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>abgebrochen</translation>
    </message>
    <message>
        <source>skipped</source>
        <translation>übersprungen</translation>
    </message>
    <message>
        <source>not started</source>
        <translation>nicht begonnen</translation>
    </message>
    <message>
        <source>resumed</source>
        <translation>fortgesetzt</translation>
    </message>
    <message>
        <source>line stopped</source>
        <translation>Linie angehalten</translation>
    </message>
    <message>
        <source>line restarted</source>
        <translation>Linie wieder gestartet</translation>
    </message>
    <message>
        <source>entry</source>
        <translation>Einstieg</translation>
    </message>
    <message>
        <source>detection</source>
        <translation>Erkennung</translation>
    </message>
    <message>
        <source>parameters</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>erase</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>write</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>verify</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>store</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>restart</source>
        <translation>Neustart</translation>
    </message>
    <message>
        <source>reconnect</source>
        <translation>Wiederverbinden</translation>
    </message>
</context>
<context>
    <name>Station</name>
    <message>
        <source>An update runs in this fixture.</source>
        <translation>In dieser Aufnahme läuft ein Update.</translation>
    </message>
    <message>
        <source>%1 is in fixture %2.</source>
        <translation>%1 steckt in Aufnahme %2.</translation>
    </message>
    <message>
        <source>The line is stopped: acknowledge the stop first.</source>
        <translation>Die Linie ist angehalten: bestätigen Sie zuerst den Halt.</translation>
    </message>
    <message>
        <source>No module in this fixture.</source>
        <translation>Kein Modul in dieser Aufnahme.</translation>
    </message>
    <message>
        <source>Scan or type the unit&apos;s serial number first.</source>
        <translation>Scannen oder tippen Sie zuerst die Seriennummer des Geräts ein.</translation>
    </message>
    <message>
        <source>Not flashed: %1.</source>
        <translation>Nicht geflasht: %1.</translation>
    </message>
</context>
<context>
    <name>StationLauncher</name>
    <message>
        <source>Station</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>The station cannot start: %1.</source>
        <translation>Die Station kann nicht starten: %1.</translation>
    </message>
    <message>
        <source>Firmware for every fixture</source>
        <translation>Firmware für alle Aufnahmen</translation>
    </message>
    <message>
        <source>Intel HEX files (*.hex);;All files (*)</source>
        <translation>Intel-HEX-Dateien (*.hex);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>The station&apos;s name, which its records carry:</source>
        <translation>Der Name der Station, den ihre Einträge tragen:</translation>
    </message>
</context>
<context>
    <name>StationSerials</name>
    <message>
        <source>No serial number.</source>
        <translation>Keine Seriennummer.</translation>
    </message>
    <message>
        <source>A serial number has at most %1 characters.</source>
        <translation>Eine Seriennummer hat höchstens %1 Zeichen.</translation>
    </message>
    <message>
        <source>A serial number holds printable characters only.</source>
        <translation>Eine Seriennummer enthält nur druckbare Zeichen.</translation>
    </message>
</context>
<context>
    <name>StationShift</name>
    <message>
        <source>%1 passed already in this shift.</source>
        <translation>%1 ist in dieser Schicht schon bestanden.</translation>
    </message>
    <message numerus="yes">
        <source>The line stopped after failures in a row: %n, in fixtures %1. The same file failing in one fixture after another usually means a bad file or a bad fixture: check them, then acknowledge. The last failure: %2</source>
        <translation>
            <numerusform>Die Linie hat nach Fehlschlägen in Folge angehalten: %n, in den Aufnahmen %1. Scheitert dieselbe Datei in einer Aufnahme nach der anderen, ist meist die Datei oder eine Aufnahme schlecht: prüfen Sie beide und bestätigen Sie dann. Der letzte Fehlschlag: %2</numerusform>
            <numerusform>Die Linie hat nach Fehlschlägen in Folge angehalten: %n, in den Aufnahmen %1. Scheitert dieselbe Datei in einer Aufnahme nach der anderen, ist meist die Datei oder eine Aufnahme schlecht: prüfen Sie beide und bestätigen Sie dann. Der letzte Fehlschlag: %2</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StationTile</name>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Flash on plug</source>
        <translation>Beim Einstecken flashen</translation>
    </message>
    <message>
        <source>Fixture %1</source>
        <translation>Aufnahme %1</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Seriennummer</translation>
    </message>
    <message>
        <source>no module</source>
        <translation>kein Modul</translation>
    </message>
    <message>
        <source>PASS</source>
        <translation>BESTANDEN</translation>
    </message>
    <message>
        <source>FAIL</source>
        <translation>FEHLER</translation>
    </message>
</context>
<context>
    <name>StationView</name>
    <message>
        <source>Station %1: %2</source>
        <translation>Station %1: %2</translation>
    </message>
    <message>
        <source>Start all</source>
        <translation>Alle starten</translation>
    </message>
    <message>
        <source>Operator: %1</source>
        <translation>Bediener: %1</translation>
    </message>
    <message>
        <source>Acknowledge</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Passed: %1   Failed: %2   First-pass yield: %3</source>
        <translation>Bestanden: %1   Fehlgeschlagen: %2   Erstdurchlauf-Ausbeute: %3</translation>
    </message>
    <message>
        <source>none yet</source>
        <translation>noch keine</translation>
    </message>
    <message>
        <source>%1× %2</source>
        <translation>%1× %2</translation>
    </message>
    <message>
        <source>Most frequent failures: %1</source>
        <translation>Häufigste Fehler: %1</translation>
    </message>
</context>
<context>
    <name>UpdateProgress</name>
    <message>
        <source>Enter bootloader mode...</source>
        <translation>Bootloader-Modus wird aufgerufen...</translation>
    </message>
    <message>
        <source>Disconnecting...</source>
        <translation>Verbindung wird getrennt...</translation>
    </message>
    <message>
        <source>Reconnected.</source>
        <translation>Wieder verbunden.</translation>
    </message>
    <message>
        <source>Firmware update canceled.</source>
        <translation>Firmware-Aktualisierung abgebrochen.</translation>
    </message>
    <message>
        <source>Cannot switch module to bootloader mode!</source>
        <translation>Modul lässt sich nicht in den Bootloader-Modus schalten!</translation>
    </message>
    <message>
        <source>Module (%1) and Firmware (%2) are matching.</source>
        <translation>Modul (%1) und Firmware (%2) passen zusammen.</translation>
    </message>
    <message>
        <source>Module (%1) and Firmware (%2) do not match!</source>
        <translation>Modul (%1) und Firmware (%2) passen nicht zusammen!</translation>
    </message>
    <message>
        <source>Could not read page size!</source>
        <translation>Seitengröße konnte nicht gelesen werden!</translation>
    </message>
    <message>
        <source>Could not read flash base address!</source>
        <translation>Flash-Basisadresse konnte nicht gelesen werden!</translation>
    </message>
    <message>
        <source>Hex file base address (0x%1) does not match with flash base address (0x%2)!</source>
        <translation>Basisadresse der Hex-Datei (0x%1) passt nicht zur Flash-Basisadresse (0x%2)!</translation>
    </message>
    <message>
        <source>Flash base address: 0x%1</source>
        <translation>Flash-Basisadresse: 0x%1</translation>
    </message>
    <message>
        <source>Memory size: %1 -&gt; File too large!</source>
        <translation>Speichergröße: %1 -&gt; Datei zu groß!</translation>
    </message>
    <message>
        <source>Resuming at 0x%1: %2 of %3 bytes already in place</source>
        <translation>Fortsetzung bei 0x%1: %2 von %3 Bytes sind bereits geschrieben</translation>
    </message>
    <message>
        <source>Erasing...</source>
        <translation>Wird gelöscht...</translation>
    </message>
    <message>
        <source>Erasing finished.</source>
        <translation>Löschen beendet.</translation>
    </message>
    <message>
        <source>Writing %1 bytes...</source>
        <translation>%1 Bytes werden geschrieben...</translation>
    </message>
    <message>
        <source>Programming error (1)</source>
        <translation>Programmierfehler (1)</translation>
    </message>
    <message>
        <source>Programming error (2)</source>
        <translation>Programmierfehler (2)</translation>
    </message>
    <message>
        <source>Verifying checksum...</source>
        <translation>Prüfsumme wird geprüft...</translation>
    </message>
    <message>
        <source>Checksum read error!</source>
        <translation>Prüfsumme konnte nicht gelesen werden!</translation>
    </message>
    <message>
        <source>Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 suit each other.</source>
        <translation>Modul-Prüfsumme 0x%1 und Hexdatei-Prüfsumme 0x%2 stimmen überein.</translation>
    </message>
    <message>
        <source>Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 do not match!</source>
        <translation>Modul-Prüfsumme 0x%1 und Hexdatei-Prüfsumme 0x%2 stimmen nicht überein!</translation>
    </message>
    <message>
        <source>Writing checksum 0x%1</source>
        <translation>Prüfsumme 0x%1 wird geschrieben</translation>
    </message>
    <message>
        <source>Error saving firmware size!</source>
        <translation>Fehler beim Speichern der Firmware-Größe!</translation>
    </message>
    <message>
        <source>Error saving new checksum!</source>
        <translation>Fehler beim Speichern der neuen Prüfsumme!</translation>
    </message>
    <message>
        <source>Error writing firmware size!</source>
        <translation>Fehler beim Schreiben der Firmware-Größe!</translation>
    </message>
    <message>
        <source>Error writing new check sum!</source>
        <translation>Fehler beim Schreiben der neuen Prüfsumme!</translation>
    </message>
    <message>
        <source>Error saving size and check sum!</source>
        <translation>Fehler beim Speichern von Größe und Prüfsumme!</translation>
    </message>
    <message>
        <source>Restarting module...</source>
        <translation>Modul wird neu gestartet...</translation>
    </message>
    <message>
        <source>Update completed. Restarted module with firmware version &quot;%1&quot;.</source>
        <translation>Aktualisierung abgeschlossen. Modul mit Firmware-Version &quot;%1&quot; neu gestartet.</translation>
    </message>
    <message>
        <source>Reconnection failed.</source>
        <translation>Wiederverbindung fehlgeschlagen.</translation>
    </message>
    <message>
        <source>No firmware loaded: choose a HEX file first.</source>
        <translation>Keine Firmware geladen: zuerst eine HEX-Datei wählen.</translation>
    </message>
    <message>
        <source>Implausible page size: %1</source>
        <translation>Unplausible Seitengröße: %1</translation>
    </message>
    <message>
        <source>Implausible memory size: %1 above flash base address %2</source>
        <translation>Unplausible Speichergröße: %1 über der Flash-Basisadresse %2</translation>
    </message>
    <message>
        <source>Implausible flash base address: %1 for %2 bytes</source>
        <translation>Unplausible Flash-Basisadresse: %1 für %2 Bytes</translation>
    </message>
    <message>
        <source>The module&apos;s firmware %1 is not older than the file&apos;s %2: not written (only if newer).</source>
        <translation>Die Firmware %1 des Moduls ist nicht älter als die der Datei, %2: nicht geschrieben (nur wenn neuer).</translation>
    </message>
    <message>
        <source>The file&apos;s SHA-256 %1 is not the one expected, %2: not written.</source>
        <translation>Die SHA-256 %1 der Datei ist nicht die erwartete, %2: nicht geschrieben.</translation>
    </message>
    <message>
        <source>No firmware loaded: %1.</source>
        <translation>Keine Firmware geladen: %1.</translation>
    </message>
    <message>
        <source>%1; it is not written.</source>
        <translation>%1; sie wird nicht geschrieben.</translation>
    </message>
    <message>
        <source>Bootloader detection timed out: no bootloader answer within %1 s (%2 tries)</source>
        <translation>Bootloader-Erkennung abgelaufen: keine Antwort eines Bootloaders innerhalb von %1 s (%2 Versuche)</translation>
    </message>
    <message>
        <source>The module already holds this firmware (checksum 0x%1).</source>
        <translation>Das Modul enthält diese Firmware bereits (Prüfsumme 0x%1).</translation>
    </message>
    <message>
        <source>Comparing the module&apos;s page sums with the file&apos;s...</source>
        <translation>Die Seitensummen des Moduls werden mit denen der Datei verglichen...</translation>
    </message>
    <message>
        <source>The module&apos;s sums could not be read.</source>
        <translation>Die Summen des Moduls konnten nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The module holds this firmware: all %1 page sums equal the file&apos;s.</source>
        <translation>Das Modul enthält diese Firmware: alle %1 Seitensummen gleichen denen der Datei.</translation>
    </message>
    <message>
        <source>%1 of %2 page sums differ from the file&apos;s, at %3.</source>
        <translation>%1 von %2 Seitensummen weichen von denen der Datei ab, bei %3.</translation>
    </message>
    <message>
        <source>Reading back 0x%1 to 0x%2 (%3 bytes), one checksum request a byte...</source>
        <translation>0x%1 bis 0x%2 (%3 Bytes) wird zurückgelesen, eine Prüfsummenanfrage je Byte...</translation>
    </message>
    <message>
        <source>Read back %1 of %2 bytes, %3:%4 to go</source>
        <translation>Noch %3:%4 – %1 von %2 Bytes zurückgelesen</translation>
    </message>
    <message>
        <source>The module&apos;s flash could not be read back at 0x%1.</source>
        <translation>Der Flash-Speicher des Moduls konnte bei 0x%1 nicht zurückgelesen werden.</translation>
    </message>
    <message>
        <source>Read back %1 bytes in %2 s (%3 checksum requests).</source>
        <translation>%1 Bytes in %2 s zurückgelesen (%3 Prüfsummenanfragen).</translation>
    </message>
    <message>
        <source>The module did not state its memory size: name the range to read back.</source>
        <translation>Das Modul hat seine Speichergröße nicht genannt: Geben Sie den Bereich zum Zurücklesen an.</translation>
    </message>
    <message>
        <source>The range 0x%1 to 0x%2 does not lie in the module&apos;s flash, which starts at 0x%3.</source>
        <translation>Der Bereich 0x%1 bis 0x%2 liegt nicht im Flash-Speicher des Moduls, der bei 0x%3 beginnt.</translation>
    </message>
    <message>
        <source>The range 0x%1 to 0x%2 does not lie in the module&apos;s flash, which starts at 0x%3 and holds %4 bytes.</source>
        <translation>Der Bereich 0x%1 bis 0x%2 liegt nicht im Flash-Speicher des Moduls, der bei 0x%3 beginnt und %4 Bytes fasst.</translation>
    </message>
</context>
</TS>
