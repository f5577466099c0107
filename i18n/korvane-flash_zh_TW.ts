<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>Builder</name>
    <message>
        <source>file ended early</source>
        <translation>檔案提前結束</translation>
    </message>
    <message>
        <source>Open %1 fail!</source>
        <translation>無法開啟 %1！</translation>
    </message>
    <message>
        <source>%1file size != 256K</source>
        <translation>%1：檔案大小不是 256K</translation>
    </message>
    <message>
        <source>Create %1 Fail</source>
        <translation>無法建立 %1</translation>
    </message>
    <message>
        <source>cannot set the permissions of %1</source>
        <translation>無法設定 %1 的權限</translation>
    </message>
    <message>
        <source>Building fail: not found key-word in %1</source>
        <translation>建置失敗：在 %1 中找不到關鍵字</translation>
    </message>
    <message>
        <source>Building fail: some problem in %1</source>
        <translation>建置失敗：%1 有問題</translation>
    </message>
    <message>
        <source>cannot flush %1</source>
        <translation>無法將 %1 寫入磁碟</translation>
    </message>
    <message>
        <source>cannot close %1</source>
        <translation>無法關閉 %1</translation>
    </message>
    <message>
        <source>cannot rename the new program to %1</source>
        <translation>無法將新程式重新命名為 %1</translation>
    </message>
    <message>
        <source>Build %1 ok!</source>
        <translation>%1 建置完成！</translation>
    </message>
    <message>
        <source>Building fail: %1 (%2)</source>
        <translation>建置失敗：%1（%2）</translation>
    </message>
    <message>
        <source>cannot read %1</source>
        <translation>無法讀取 %1</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>無法寫入 %1</translation>
    </message>
    <message>
        <source>Building %1... </source>
        <translation>正在建置 %1... </translation>
    </message>
    <message>
        <source>IBM-K BIN file: %1</source>
        <translation>IBM-K BIN 檔：%1</translation>
    </message>
    <message>
        <source>NonIBM-K BIN file: %1</source>
        <translation>非 IBM-K BIN 檔：%1</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>錯誤</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>資訊</translation>
    </message>
</context>
<context>
    <name>Flash</name>
    <message>
        <source>Don&apos;t turn off the system, Flash is in progress...</source>
        <translation>請勿關閉系統，正在更新韌體...</translation>
    </message>
    <message>
        <source>Flash Completed.</source>
        <translation>韌體更新完成。</translation>
    </message>
    <message>
        <source>Flash Fail.</source>
        <translation>韌體更新失敗。</translation>
    </message>
    <message>
        <source>Write buffer fail!</source>
        <translation>寫入緩衝區失敗！</translation>
    </message>
    <message>
        <source>Read buffer fail!</source>
        <translation>讀取緩衝區失敗！</translation>
    </message>
    <message>
        <source>Verify fail!</source>
        <translation>驗證失敗！</translation>
    </message>
    <message>
        <source>Verify buffer fail!</source>
        <translation>驗證緩衝區失敗！</translation>
    </message>
    <message>
        <source>Error reading inquiry data information; error was %1</source>
        <translation>讀取查詢資料時發生錯誤；錯誤碼 %1</translation>
    </message>
    <message>
        <source>The flash stopped before anything was written to the drive: %1</source>
        <translation>韌體更新已中止，尚未寫入任何資料到光碟機：%1</translation>
    </message>
    <message>
        <source>The flash stopped after writing to the drive but before the closing request, so the drive keeps its old firmware: %1</source>
        <translation>韌體更新在寫入光碟機之後、結束指令之前中止，光碟機保留原有的韌體：%1</translation>
    </message>
    <message>
        <source>The flash stopped during the closing request, so the drive may hold part of the new firmware: %1</source>
        <translation>韌體更新在結束指令期間中止，光碟機可能含有部分新韌體：%1</translation>
    </message>
    <message>
        <source>Writing new firmware to the drive; an interruption can leave it unusable</source>
        <translation>正在將新韌體寫入光碟機；中斷可能導致光碟機無法使用</translation>
    </message>
    <message>
        <source>
You have successfully completed
installation! The new changes will not take effect
until you reboot your system. Do you want to
reboot your system now?

</source>
        <translation>
安裝已成功完成！
新的變更須在系統重新啟動後才會生效。
要立即重新啟動系統嗎？

</translation>
    </message>
    <message>
        <source>Exit Error</source>
        <translation>重新啟動錯誤</translation>
    </message>
    <message>
        <source>OpenProcessToken() failed</source>
        <translation>OpenProcessToken() 失敗</translation>
    </message>
    <message>
        <source>LookupPrivilegeValue() failed</source>
        <translation>LookupPrivilegeValue() 失敗</translation>
    </message>
    <message>
        <source>AdjustTokenPrivileges() failed</source>
        <translation>AdjustTokenPrivileges() 失敗</translation>
    </message>
    <message>
        <source>
WARNING:

Current FW:%1 is newer than FW:%2.

Continue update FW:%1 to FW:%2 ?
</source>
        <translation>
警告：

目前的韌體 %1 比 %2 新。

仍要將韌體 %1 更新為 %2 嗎？
</translation>
    </message>
    <message>
        <source>
Update FW:%1 to FW:%2 ?
</source>
        <translation>
要將韌體 %1 更新為 %2 嗎？
</translation>
    </message>
</context>
<context>
    <name>MainForm</name>
    <message>
        <source>An unexpected error occurred.</source>
        <translation>發生未預期的錯誤。</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>狀態</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進度</translation>
    </message>
    <message>
        <source>Drive list</source>
        <translation>光碟機清單</translation>
    </message>
    <message>
        <source>IBM-K BIN files</source>
        <translation>IBM-K BIN 檔</translation>
    </message>
    <message>
        <source>Non IBM-K BIN files</source>
        <translation>非 IBM-K BIN 檔</translation>
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
警告：

本更新程式僅支援韌體為 %2 的 Korvane %1

建議您先關閉所有應用程式，再執行本更新！
韌體更新期間請勿關閉系統！


是否要繼續？
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
錯誤：

找不到韌體為 %2 的 %1 光碟機！

本更新程式僅支援韌體為 %2 的 %1

偵測到的光碟機：
</translation>
    </message>
    <message>
        <source> [Buiding]</source>
        <translation> [建置中]</translation>
    </message>
    <message>
        <source>Select drive you want to flash:</source>
        <translation>請選擇要更新韌體的光碟機：</translation>
    </message>
    <message>
        <source>Select IBM-K BIN file.</source>
        <translation>請選擇 IBM-K BIN 檔。</translation>
    </message>
    <message>
        <source>Select NonIBM-K BIN file.</source>
        <translation>請選擇非 IBM-K BIN 檔。</translation>
    </message>
    <message>
        <source>Select Non IBM-K BIN file.</source>
        <translation>請選擇非 IBM-K BIN 檔。</translation>
    </message>
    <message>
        <source>Flash</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>建置</translation>
    </message>
    <message>
        <source>O.S must be WinNT or Win2000.</source>
        <translation>作業系統必須是 Windows NT 或 Windows 2000。</translation>
    </message>
</context>
<context>
    <name>Requests</name>
    <message>
        <source>Only four drives can be listed. These drives were found but are not listed:
</source>
        <translation>最多只能列出四台光碟機。以下光碟機已找到，但未列出：
</translation>
    </message>
    <message>
        <source>Remove disc, befor to do the flash task.</source>
        <translation>請先取出光碟，再進行韌體更新。</translation>
    </message>
    <message>
        <source>Error sending SCSI command; error was %1</source>
        <translation>傳送 SCSI 指令時發生錯誤；錯誤碼 %1</translation>
    </message>
    <message>
        <source>Read buffer short: %1 of %2 bytes returned</source>
        <translation>讀取緩衝區不完整：%2 位元組中只傳回 %1 位元組</translation>
    </message>
    <message>
        <source>Error opening: %1</source>
        <translation>開啟時發生錯誤：%1</translation>
    </message>
    <message>
        <source>Scsi status: %1h, SensCode: %2 %3 %4</source>
        <translation>SCSI 狀態：%1h，感測碼：%2 %3 %4</translation>
    </message>
    <message>
        <source>Scsi status: %1h</source>
        <translation>SCSI 狀態：%1h</translation>
    </message>
</context>
</TS>
