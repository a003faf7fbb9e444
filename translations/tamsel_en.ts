<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CAboutWnd</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel Document Recovery Beta</translation>
    </message>
    <message>
        <source>&lt;font size=3&gt;只读扫描磁盘，恢复的文件请保存到另一块磁盘。&lt;/font&gt;</source>
        <translation>&lt;font size=3&gt;Scans disks read-only. Save recovered files to another disk.&lt;/font&gt;</translation>
    </message>
</context>
<context>
    <name>CAssemblyCheck</name>
    <message>
        <source>the pieces hold no bytes</source>
        <translation>the pieces hold no bytes</translation>
    </message>
    <message>
        <source>the archive does not end where its pieces end</source>
        <translation>the archive does not end where its pieces end</translation>
    </message>
    <message>
        <source>the document does not end where its pieces end</source>
        <translation>the document does not end where its pieces end</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>too large to check within the budget</translation>
    </message>
</context>
<context>
    <name>CChoiceDiskWnd</name>
    <message>
        <source>扫描</source>
        <translation>Scan</translation>
    </message>
    <message>
        <source>打开镜像文件</source>
        <translation>Open image file</translation>
    </message>
    <message>
        <source>硬盘：</source>
        <translation>Disks:</translation>
    </message>
    <message>
        <source>请先选择一个磁盘</source>
        <translation>Select a disk first</translation>
    </message>
    <message>
        <source>扫描一个磁盘镜像文件（例如用 dd 制作的 .img）</source>
        <translation>Scan a disk image file (for example an .img made with dd)</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>扫描整个卷</source>
        <translation>Scan the whole volume</translation>
    </message>
    <message>
        <source>默认只扫描未使用空间（现有文件占用的部分不再读取，快得多）；勾选后逐字节扫描整个卷，现有文件内部的文档（如归档或虚拟磁盘中的文档）也会列出。</source>
        <translation>By default only unused space is scanned (what live files hold is not read again, which is much faster); tick this to scan every byte of the volume, which also lists the documents inside live files (in archives or virtual disk images).</translation>
    </message>
    <message>
        <source>先创建磁盘映像</source>
        <translation>Image the disk first</translation>
    </message>
    <message>
        <source>这块磁盘正在损坏：先把它复制成映像文件（能读的先读），再扫描映像，不再反复读这块磁盘</source>
        <translation>This disk is failing: copy it into an image file first (the readable parts first), then scan the image instead of reading the disk again and again</translation>
    </message>
</context>
<context>
    <name>CCompoundStreamCheck</name>
    <message>
        <source>the workbook stream does not begin with a record</source>
        <translation>the workbook stream does not begin with a record</translation>
    </message>
    <message>
        <source>the workbook&apos;s shared strings do not hold</source>
        <translation>the workbook&apos;s shared strings do not hold</translation>
    </message>
    <message>
        <source>the workbook stream breaks at byte %1</source>
        <translation>the workbook stream breaks at byte %1</translation>
    </message>
    <message>
        <source>the workbook&apos;s rows go back at byte %1</source>
        <translation>the workbook&apos;s rows go back at byte %1</translation>
    </message>
    <message>
        <source>the presentation stream breaks at byte %1</source>
        <translation>the presentation stream breaks at byte %1</translation>
    </message>
</context>
<context>
    <name>CCompressedUnits</name>
    <message>
        <source>the compressed bytes %1 to %2 do not decompress: their clusters were overwritten or are damaged</source>
        <translation>the compressed bytes %1 to %2 do not decompress: their clusters were overwritten or are damaged</translation>
    </message>
</context>
<context>
    <name>CConnectWnd</name>
    <message>
        <source>QQ号:</source>
        <translation>QQ:</translation>
    </message>
    <message>
        <source>未公开</source>
        <translation>not published</translation>
    </message>
    <message>
        <source>微信号:</source>
        <translation>WeChat:</translation>
    </message>
    <message>
        <source>请在项目的问题列表中提出</source>
        <translation>Ask in the project&apos;s issue list</translation>
    </message>
</context>
<context>
    <name>CDetailsReader</name>
    <message>
        <source>no check for this type</source>
        <translation>no check for this type</translation>
    </message>
</context>
<context>
    <name>CDialogFileChooser</name>
    <message>
        <source>打开镜像文件</source>
        <translation>Open image file</translation>
    </message>
    <message>
        <source>磁盘镜像 (*.img *.dd *.raw *.bin *.iso *.vhd *.E01 *.e01);;所有文件 (*)</source>
        <translation>Disk images (*.img *.dd *.raw *.bin *.iso *.vhd *.E01 *.e01);;All files (*)</translation>
    </message>
</context>
<context>
    <name>CDiskButton</name>
    <message>
        <source>%1可用,共%2</source>
        <translation>%1 free of %2</translation>
    </message>
    <message>
        <source>磁盘自检报告这块磁盘正在损坏</source>
        <translation>the drive&apos;s self-test (SMART) says it is failing</translation>
    </message>
    <message>
        <source>磁盘自检报告 %1 个坏扇区</source>
        <translation>the drive&apos;s self-test (SMART) reports %1 bad sectors</translation>
    </message>
    <message>
        <source>%1：%2。每读一遍它都可能更糟：请先为它创建磁盘映像（tamsel-cli image %3 磁盘.img），再扫描映像。</source>
        <translation>%1: %2. Every pass over it may make it worse: image it first (tamsel-cli image %3 disk.img), then scan the image.</translation>
    </message>
</context>
<context>
    <name>CDonation</name>
    <message>
        <source>此软件为免费软件,如果对你有所帮助,请打赏.你的支持,会让软件变得更加完美.谢谢!</source>
        <translation>This software is free. If it helped you, please consider a tip: your support makes it better. Thank you!</translation>
    </message>
    <message>
        <source>微信打赏</source>
        <translation>Tip via WeChat</translation>
    </message>
    <message>
        <source>支付宝打赏</source>
        <translation>Tip via Alipay</translation>
    </message>
</context>
<context>
    <name>CErrnoText</name>
    <message>
        <source>Input/output error</source>
        <translation>Input/output error</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>No such file or directory</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Permission denied</translation>
    </message>
    <message>
        <source>Operation not permitted</source>
        <translation>Operation not permitted</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>No space left on device</translation>
    </message>
    <message>
        <source>Disk quota exceeded</source>
        <translation>Disk quota exceeded</translation>
    </message>
    <message>
        <source>File too large</source>
        <translation>File too large</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>Read-only file system</translation>
    </message>
    <message>
        <source>File name too long</source>
        <translation>File name too long</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>Not a directory</translation>
    </message>
    <message>
        <source>Is a directory</source>
        <translation>Is a directory</translation>
    </message>
    <message>
        <source>File exists</source>
        <translation>File exists</translation>
    </message>
    <message>
        <source>No such device or address</source>
        <translation>No such device or address</translation>
    </message>
    <message>
        <source>No such device</source>
        <translation>No such device</translation>
    </message>
    <message>
        <source>Device or resource busy</source>
        <translation>Device or resource busy</translation>
    </message>
    <message>
        <source>No medium found</source>
        <translation>No medium found</translation>
    </message>
    <message>
        <source>Cannot allocate memory</source>
        <translation>Cannot allocate memory</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>Too many open files</translation>
    </message>
    <message>
        <source>Invalid argument</source>
        <translation>Invalid argument</translation>
    </message>
    <message>
        <source>Too many levels of symbolic links</source>
        <translation>Too many levels of symbolic links</translation>
    </message>
</context>
<context>
    <name>CEwfVolume</name>
    <message>
        <source>the E01 image %1 cannot be opened (%2). Check that the file exists and is readable.</source>
        <translation>the E01 image %1 cannot be opened (%2). Check that the file exists and is readable.</translation>
    </message>
    <message>
        <source>the E01 image %1 cannot be read (%2). Keep all its segment files (.E01, .E02, ...) together in one folder.</source>
        <translation>the E01 image %1 cannot be read (%2). Keep all its segment files (.E01, .E02, ...) together in one folder.</translation>
    </message>
    <message>
        <source>the E01 image %1 does not say how large the disk is (%2). The image is damaged.</source>
        <translation>the E01 image %1 does not say how large the disk is (%2). The image is damaged.</translation>
    </message>
</context>
<context>
    <name>CFileInfoTableModel</name>
    <message>
        <source>文件记录不完整，恢复出的文件会缺少部分内容</source>
        <translation>The file record is incomplete: the recovered file will lack part of its content</translation>
    </message>
    <message>
        <source>已被其他文件覆盖，恢复出的文件不是原来的内容</source>
        <translation>Overwritten by other files: the recovered file is not the original content</translation>
    </message>
    <message>
        <source>约 %1% 已被其他文件覆盖，恢复出的文件不完整</source>
        <translation>About %1% overwritten by other files: the recovered file is incomplete</translation>
    </message>
    <message>
        <source>位置：%1</source>
        <translation>Location: %1</translation>
    </message>
    <message>
        <source>来源：已删除的文件</source>
        <translation>Source: a deleted file</translation>
    </message>
    <message>
        <source>来源：已删除的文件，按内容也找到</source>
        <translation>Source: a deleted file, also found by its content</translation>
    </message>
    <message>
        <source>来源：按内容找到</source>
        <translation>Source: found by its content</translation>
    </message>
    <message>
        <source>（已损坏）</source>
        <translation> (damaged)</translation>
    </message>
    <message>
        <source>名字</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>标题：%1</source>
        <translation>Title: %1</translation>
    </message>
    <message>
        <source>作者：%1</source>
        <translation>Author: %1</translation>
    </message>
    <message>
        <source>创建：%1</source>
        <translation>Created: %1</translation>
    </message>
    <message>
        <source>修改：%1</source>
        <translation>Modified: %1</translation>
    </message>
    <message>
        <source>页数：%1</source>
        <translation>Pages: %1</translation>
    </message>
    <message>
        <source>完整</source>
        <translation>Whole</translation>
    </message>
    <message>
        <source>损坏：%1</source>
        <translation>Damaged: %1</translation>
    </message>
    <message>
        <source>未校验</source>
        <translation>Not checked</translation>
    </message>
    <message>
        <source>未校验：%1</source>
        <translation>Not checked: %1</translation>
    </message>
    <message>
        <source>无文档信息</source>
        <translation>No details</translation>
    </message>
    <message>
        <source>在已占用却无文件使用的簇中找到（孤立簇）</source>
        <translation>Found in clusters in use that no file reaches (orphaned clusters)</translation>
    </message>
    <message>
        <source>分 %1 段</source>
        <translation>in %1 pieces</translation>
    </message>
    <message>
        <source>在一个现有文件内部找到（扫描整个卷时列出）</source>
        <translation>Found inside a live file (listed when the whole volume is scanned)</translation>
    </message>
    <message>
        <source>部分压缩数据已无法解压，恢复出的文件会缺少这部分内容</source>
        <translation>Some of the compressed data no longer decompresses; the recovered file would lack that part</translation>
    </message>
</context>
<context>
    <name>CFileNodeModel</name>
    <message>
        <source>文件格式</source>
        <translation>File types</translation>
    </message>
</context>
<context>
    <name>CFilterBar</name>
    <message>
        <source>筛选</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>修改日期</source>
        <translation>Modified</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>只显示完整的文档</source>
        <translation>Whole documents only</translation>
    </message>
    <message>
        <source>清除筛选</source>
        <translation>Clear filters</translation>
    </message>
    <message>
        <source>按名字或标题筛选</source>
        <translation>Filter by name or title</translation>
    </message>
    <message>
        <source>按修改日期、大小筛选，或只显示完整的文档</source>
        <translation>Filter by date modified or size, or show whole documents only</translation>
    </message>
    <message>
        <source>不限</source>
        <translation>Any</translation>
    </message>
    <message>
        <source>只显示经检查完整、没有被覆盖的文档</source>
        <translation>Only documents that passed their check and were not overwritten</translation>
    </message>
    <message>
        <source>至</source>
        <translation>to</translation>
    </message>
    <message>
        <source>筛选（%1）</source>
        <translation>Filter (%1)</translation>
    </message>
</context>
<context>
    <name>CFolderNodeModel</name>
    <message>
        <source>仅按内容找到</source>
        <translation>Found by content</translation>
    </message>
    <message>
        <source>没有文件记录、只凭内容找到的文档：原来的名字和文件夹已无从得知</source>
        <translation>Documents found by their content alone, with no file-system record: their original names and folders are not known</translation>
    </message>
    <message>
        <source>已删除的文件，它们所在文件夹的上级文件夹已丢失</source>
        <translation>Deleted files whose folder&apos;s parent folders are lost</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>Folder</translation>
    </message>
</context>
<context>
    <name>CImagingPage</name>
    <message>
        <source>先创建磁盘映像</source>
        <translation>Image the disk first</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>扫描映像</source>
        <translation>Scan the image</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>正在把 %1（%2）复制到 %3。先读能读的部分，跳过读不出的地方，最后再回头重读它们；之后的扫描和恢复都在映像上进行，不再读这块磁盘。</source>
        <translation>Copying %1 (%2) to %3. The readable parts are read first, the places that cannot be read are skipped and tried again at the end; scanning and recovery then work on the image and no longer read this disk.</translation>
    </message>
    <message>
        <source>正在停止……</source>
        <translation>Stopping…</translation>
    </message>
    <message>
        <source>已读 %1 / %2</source>
        <translation>%1 / %2 read</translation>
    </message>
    <message>
        <source>  无法读取 %1</source>
        <translation>  %1 unreadable</translation>
    </message>
    <message>
        <source>  正在重读跳过的区域</source>
        <translation>  reading the skipped places again</translation>
    </message>
    <message>
        <source>映像没有完成：%1</source>
        <translation>The image was not finished: %1</translation>
    </message>
    <message>
        <source>已停止。已读的部分在映像 %1 中，读取记录在 %2；再次为这块磁盘创建映像到同一位置，会从停下的地方继续。</source>
        <translation>Stopped. What was read is in the image %1, the record of the reads in %2; imaging this disk into the same place again goes on from where it stopped.</translation>
    </message>
    <message>
        <source>映像已写入 %1
读取记录（ddrescue 映射文件）已写入 %2</source>
        <translation>The image was written to %1
The record of the reads (a ddrescue map file) was written to %2</translation>
    </message>
    <message>
        <source>有 %1 读不出来，在映像中以零代替；扫描映像时这些位置算作无法读取。</source>
        <translation>%1 could not be read: zeros stand for it in the image, and a scan of the image counts those places as unreadable.</translation>
    </message>
    <message>
        <source>%1（%2）的映像：%3</source>
        <translation>The image of %1 (%2): %3</translation>
    </message>
</context>
<context>
    <name>CKnownBadVolume</name>
    <message>
        <source>cannot read the map file %1: %2.</source>
        <translation>cannot read the map file %1: %2.</translation>
    </message>
    <message>
        <source>%1 is not a ddrescue map file (%2).</source>
        <translation>%1 is not a ddrescue map file (%2).</translation>
    </message>
</context>
<context>
    <name>CMainWindow</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel Document Recovery Beta</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>微信</source>
        <translation>WeChat</translation>
    </message>
    <message>
        <source>打赏</source>
        <translation>Tip</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>数据正在恢复，你确定要退出？</source>
        <translation>Documents are being recovered. Do you really want to quit?</translation>
    </message>
    <message>
        <source>磁盘正在扫描，你确定要退出？</source>
        <translation>A disk is being scanned. Do you really want to quit?</translation>
    </message>
    <message>
        <source>正在创建磁盘映像，你确定要退出？已读的部分会留在映像中，下次可以接着做。</source>
        <translation>The disk is being imaged. Are you sure you want to quit? What was read stays in the image, and the copy can go on next time.</translation>
    </message>
    <message>
        <source>所选文件夹在要复制的磁盘上：映像会覆盖它要保存的数据。请选择另一块磁盘上的文件夹。</source>
        <translation>The chosen folder is on the disk being copied: the image would overwrite the data it is saving. Choose a folder on another disk.</translation>
    </message>
</context>
<context>
    <name>CMessageTips</name>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>COleDetailsReader</name>
    <message>
        <source>the compound document&apos;s header is missing</source>
        <translation>the compound document&apos;s header is missing</translation>
    </message>
    <message>
        <source>the compound document&apos;s header is damaged</source>
        <translation>the compound document&apos;s header is damaged</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table is larger than the document</source>
        <translation>the compound document&apos;s allocation table is larger than the document</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table list runs past the end of the document</source>
        <translation>the compound document&apos;s allocation table list runs past the end of the document</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table lies past the end of the document</source>
        <translation>the compound document&apos;s allocation table lies past the end of the document</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory chain loops</source>
        <translation>the compound document&apos;s directory chain loops</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory runs past the end of the document</source>
        <translation>the compound document&apos;s directory runs past the end of the document</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory has no root entry</source>
        <translation>the compound document&apos;s directory has no root entry</translation>
    </message>
    <message>
        <source>the compound document&apos;s small-stream container runs past the end of the document</source>
        <translation>the compound document&apos;s small-stream container runs past the end of the document</translation>
    </message>
    <message>
        <source>the compound document&apos;s small-block table runs past the end of the document</source>
        <translation>the compound document&apos;s small-block table runs past the end of the document</translation>
    </message>
    <message>
        <source>stream %1&apos;s sector chain loops</source>
        <translation>stream %1&apos;s sector chain loops</translation>
    </message>
    <message>
        <source>stream %1 runs past the end of the document</source>
        <translation>stream %1 runs past the end of the document</translation>
    </message>
    <message>
        <source>stream %1 is shorter than its stated length (%2 of %3 bytes)</source>
        <translation>stream %1 is shorter than its stated length (%2 of %3 bytes)</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>too large to check within the budget</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory entry %1 is damaged</source>
        <translation>the compound document&apos;s directory entry %1 is damaged</translation>
    </message>
    <message>
        <source>the Word document&apos;s stream does not begin with its information block</source>
        <translation>the Word document&apos;s stream does not begin with its information block</translation>
    </message>
    <message>
        <source>the property set %1 is damaged</source>
        <translation>the property set %1 is damaged</translation>
    </message>
</context>
<context>
    <name>COutputFolderChoice</name>
    <message>
        <source>所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。
请选择另一块磁盘上的文件夹。仍要恢复到这里吗？</source>
        <translation>The chosen folder is on the disk being recovered: writing there overwrites documents not yet recovered.
Please choose a folder on another disk. Recover here anyway?</translation>
    </message>
    <message>
        <source>无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。
仍要恢复到这里吗？</source>
        <translation>It cannot be told whether the chosen folder is on the disk being recovered; if it is, writing there overwrites documents not yet recovered.
Recover here anyway?</translation>
    </message>
    <message>
        <source>筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？</source>
        <translation>%1 ticked documents are hidden by the filter; they are recovered too. Go on?</translation>
    </message>
</context>
<context>
    <name>CParentWindow</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel Document Recovery Beta</translation>
    </message>
</context>
<context>
    <name>CPartitionList</name>
    <message>
        <source>未知</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>本地磁盘</source>
        <translation>Local disk</translation>
    </message>
    <message>
        <source>整个磁盘</source>
        <translation>Whole disk</translation>
    </message>
</context>
<context>
    <name>CPdfDetailsReader</name>
    <message>
        <source>the document has no startxref (its end is missing)</source>
        <translation>the document has no startxref (its end is missing)</translation>
    </message>
    <message>
        <source>startxref points outside the document</source>
        <translation>startxref points outside the document</translation>
    </message>
    <message>
        <source>the document has too many cross-reference sections</source>
        <translation>the document has too many cross-reference sections</translation>
    </message>
    <message>
        <source>a cross-reference section lies outside the document</source>
        <translation>a cross-reference section lies outside the document</translation>
    </message>
    <message>
        <source>startxref or /Prev points to byte %1, where no cross-reference section is</source>
        <translation>startxref or /Prev points to byte %1, where no cross-reference section is</translation>
    </message>
    <message>
        <source>the trailer after the cross-reference table cannot be read</source>
        <translation>the trailer after the cross-reference table cannot be read</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 cannot be read</source>
        <translation>the cross-reference table at byte %1 cannot be read</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 is cut short</source>
        <translation>the cross-reference table at byte %1 is cut short</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 has a damaged entry</source>
        <translation>the cross-reference table at byte %1 has a damaged entry</translation>
    </message>
    <message>
        <source>the cross-reference stream does not decode</source>
        <translation>the cross-reference stream does not decode</translation>
    </message>
    <message>
        <source>object %1 is placed at byte %2, past the end of the document</source>
        <translation>object %1 is placed at byte %2, past the end of the document</translation>
    </message>
    <message>
        <source>object %1 is not at byte %2 where the cross-reference table puts it</source>
        <translation>object %1 is not at byte %2 where the cross-reference table puts it</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>too large to check within the budget</translation>
    </message>
    <message>
        <source>the stream of object %1 has no length inside the document</source>
        <translation>the stream of object %1 has no length inside the document</translation>
    </message>
    <message>
        <source>the stream of object %1 does not end where its /Length says</source>
        <translation>the stream of object %1 does not end where its /Length says</translation>
    </message>
    <message>
        <source>the stream of object %1 does not inflate (its data is damaged)</source>
        <translation>the stream of object %1 does not inflate (its data is damaged)</translation>
    </message>
</context>
<context>
    <name>CPieceSearch</name>
    <message>
        <source>some of its clusters hold a piece of the document at byte %1, which its checks prove whole</source>
        <translation>some of its clusters hold a piece of the document at byte %1, which its checks prove whole</translation>
    </message>
    <message>
        <source>%1; more than one assembly of its pieces passes every check, so none is taken</source>
        <translation>%1; more than one assembly of its pieces passes every check, so none is taken</translation>
    </message>
</context>
<context>
    <name>CPreviewPane</name>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>显示文档开头 64 KiB 的十六进制内容</source>
        <translation>Show the first 64 KiB of the document in hex</translation>
    </message>
    <message>
        <source>关闭预览</source>
        <translation>Close the preview</translation>
    </message>
    <message>
        <source>选择一行以预览文档</source>
        <translation>Choose a row to preview its document</translation>
    </message>
    <message>
        <source>已损坏：%1</source>
        <translation>Damaged: %1</translation>
    </message>
    <message>
        <source>正在生成预览…</source>
        <translation>Making the preview…</translation>
    </message>
    <message>
        <source>沙箱受限：未找到可用的 bubblewrap，预览程序可以读取文件系统</source>
        <translation>Reduced sandbox: bubblewrap is missing or cannot run, so the preview helper could read the file system</translation>
    </message>
    <message>
        <source>共 %1 页</source>
        <translation>%1 page(s)</translation>
    </message>
    <message>
        <source>无法预览</source>
        <translation>No preview</translation>
    </message>
</context>
<context>
    <name>CRecoveryControl</name>
    <message>
        <source>the source %1 can no longer be read (%2): the device was removed or has failed. Reconnect it and scan again.</source>
        <translation>the source %1 can no longer be read (%2): the device was removed or has failed. Reconnect it and scan again.</translation>
    </message>
    <message>
        <source>no source to scan.</source>
        <translation>no source to scan.</translation>
    </message>
    <message>
        <source>the scan of %1 stopped on an internal error: %2</source>
        <translation>the scan of %1 stopped on an internal error: %2</translation>
    </message>
    <message>
        <source>the scan of %1 stopped on an internal error.</source>
        <translation>the scan of %1 stopped on an internal error.</translation>
    </message>
    <message>
        <source>the scan of %1 could not start: %2</source>
        <translation>the scan of %1 could not start: %2</translation>
    </message>
</context>
<context>
    <name>CRecoveryDataFiles</name>
    <message>
        <source>%1: the disk holding the output folder is full. Free some space there or choose a folder on another disk.</source>
        <translation>%1: the disk holding the output folder is full. Free some space there or choose a folder on another disk.</translation>
    </message>
    <message>
        <source>%1: the output folder&apos;s file system (or a file size limit) does not allow a file this large. Choose a folder on another file system.</source>
        <translation>%1: the output folder&apos;s file system (or a file size limit) does not allow a file this large. Choose a folder on another file system.</translation>
    </message>
    <message>
        <source>%1: no permission to write there. Choose a folder you can write to.</source>
        <translation>%1: no permission to write there. Choose a folder you can write to.</translation>
    </message>
    <message>
        <source>%1: the output folder is on a read-only file system. Choose another folder.</source>
        <translation>%1: the output folder is on a read-only file system. Choose another folder.</translation>
    </message>
    <message>
        <source>%1: choose an output folder with a shorter path.</source>
        <translation>%1: choose an output folder with a shorter path.</translation>
    </message>
    <message>
        <source>%1. Check the output disk and choose another folder if the problem stays.</source>
        <translation>%1. Check the output disk and choose another folder if the problem stays.</translation>
    </message>
    <message>
        <source>no output folder was given. Choose a folder to write the documents into.</source>
        <translation>no output folder was given. Choose a folder to write the documents into.</translation>
    </message>
    <message>
        <source>it exists and is not a folder. Choose another output folder.</source>
        <translation>it exists and is not a folder. Choose another output folder.</translation>
    </message>
    <message>
        <source>the folder cannot be created: %1</source>
        <translation>the folder cannot be created: %1</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (size %1). Scan the volume again.</source>
        <translation>the found document&apos;s record is invalid (size %1). Scan the volume again.</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (start sector %1, size %2). Scan the volume again.</source>
        <translation>the found document&apos;s record is invalid (start sector %1, size %2). Scan the volume again.</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (a run of %1 bytes at %2). Scan the volume again.</source>
        <translation>the found document&apos;s record is invalid (a run of %1 bytes at %2). Scan the volume again.</translation>
    </message>
    <message>
        <source>no volume to read from. Scan the volume again, then recover.</source>
        <translation>no volume to read from. Scan the volume again, then recover.</translation>
    </message>
    <message>
        <source>the document (bytes %1 to %2) runs past the end of the volume %3 (%4 bytes). Scan the volume again.</source>
        <translation>the document (bytes %1 to %2) runs past the end of the volume %3 (%4 bytes). Scan the volume again.</translation>
    </message>
    <message>
        <source>the file cannot be created: %1</source>
        <translation>the file cannot be created: %1</translation>
    </message>
    <message>
        <source>the output folder already holds %1 files of this name. Choose an empty folder.</source>
        <translation>the output folder already holds %1 files of this name. Choose an empty folder.</translation>
    </message>
    <message>
        <source>the finished file cannot be given its name: %1</source>
        <translation>the finished file cannot be given its name: %1</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (compression unit of %1 bytes). Scan the volume again.</source>
        <translation>the found document&apos;s record is invalid (compression unit of %1 bytes). Scan the volume again.</translation>
    </message>
    <message>
        <source>partly overwritten: other files now use %1% of it</source>
        <translation>partly overwritten: other files now use %1% of it</translation>
    </message>
    <message>
        <source>its file-system entry is cut short</source>
        <translation>its file-system entry is cut short</translation>
    </message>
    <message>
        <source>its compressed bytes cannot be decompressed</source>
        <translation>its compressed bytes cannot be decompressed</translation>
    </message>
    <message>
        <source>damaged: %1</source>
        <translation>damaged: %1</translation>
    </message>
    <message>
        <source>unreadable sectors in its compressed bytes %1 to %2 on %3</source>
        <translation>unreadable sectors in its compressed bytes %1 to %2 on %3</translation>
    </message>
    <message>
        <source>unreadable sectors at byte %1 of %2 (%3)</source>
        <translation>unreadable sectors at byte %1 of %2 (%3)</translation>
    </message>
    <message>
        <source>%1 ends at byte %2 now: it was shortened after the scan</source>
        <translation>%1 ends at byte %2 now: it was shortened after the scan</translation>
    </message>
    <message>
        <source>the source %1 is gone (%2 at byte %3), so %4 and the documents after it were not written. The output folder is fine. Connect the disk again and recover what is left.</source>
        <translation>the source %1 is gone (%2 at byte %3), so %4 and the documents after it were not written. The output folder is fine. Connect the disk again and recover what is left.</translation>
    </message>
    <message>
        <source>unreadable sectors at bytes %1 of the file</source>
        <translation>unreadable sectors at bytes %1 of the file</translation>
    </message>
</context>
<context>
    <name>CRecoveryDialog</name>
    <message>
        <source>第1个文件正在恢复，总共%1个文件。</source>
        <translation>Recovering file 1 of %1.</translation>
    </message>
    <message>
        <source>第%1个文件正在恢复,总共%2个文件。</source>
        <translation>Recovering file %1 of %2.</translation>
    </message>
    <message>
        <source>恢复完成！</source>
        <translation>Recovery complete!</translation>
    </message>
    <message>
        <source>恢复失败，已停止。</source>
        <translation>Recovery failed and was stopped.</translation>
    </message>
    <message>
        <source>无法读取源磁盘上 %1 的数据（输出文件夹没有问题），此文件未保存。
%2</source>
        <translation>The data of %1 could not be read from the source disk (the output folder is fine); this file was not saved.
%2</translation>
    </message>
    <message>
        <source>数据正在恢复，你确定要退出？</source>
        <translation>Documents are being recovered. Stop recovering?</translation>
    </message>
    <message>
        <source>无法写入 %1：
%2</source>
        <translation>Cannot write %1:
%2</translation>
    </message>
    <message>
        <source>没有找到可以打开文件夹的程序。恢复的文档在：
%1</source>
        <translation>No program to open folders was found. The recovered documents are in:
%1</translation>
    </message>
    <message>
        <source>复制路径</source>
        <translation>Copy path</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>%1 个文件没有恢复：%2 个已损坏，%3 个所在扇区无法读取。单独勾选这样的文件，可以按原样恢复（无法读取的部分以零填充）。</source>
        <translation>%1 file(s) were not recovered: %2 damaged, %3 on sectors that cannot be read. Tick such a file on its own to recover it as it is (with zeros where the disk gives nothing).</translation>
    </message>
</context>
<context>
    <name>CSavedScanQuestion</name>
    <message>
        <source>打开上次的结果</source>
        <translation>Open last results</translation>
    </message>
    <message>
        <source>继续上次的扫描</source>
        <translation>Continue last scan</translation>
    </message>
    <message>
        <source>重新扫描</source>
        <translation>Scan afresh</translation>
    </message>
    <message>
        <source>此卷上次的扫描已完成，可以直接打开它的结果。</source>
        <translation>The last scan of this volume finished: its results can be opened directly.</translation>
    </message>
    <message>
        <source>此卷上次的扫描没有完成，可以从停下的地方继续。</source>
        <translation>The last scan of this volume did not finish: it can go on from where it stopped.</translation>
    </message>
    <message>
        <source>上次的扫描没有读取文件系统，现有文件的文档也列出；继续或打开时照旧。</source>
        <translation>The last scan read no file system, so documents of live files are listed too; it goes on, or opens, the same way.</translation>
    </message>
    <message>
        <source>上次的扫描自动识别文件系统；继续或打开时照旧。</source>
        <translation>The last scan found the file systems itself; it goes on, or opens, the same way.</translation>
    </message>
    <message>
        <source>上次的扫描按 %1 读取文件系统；继续或打开时照旧。</source>
        <translation>The last scan read the file system as %1; it goes on, or opens, the same way.</translation>
    </message>
    <message>
        <source>上次的扫描读取了整个卷；继续或打开时照旧。</source>
        <translation>The last scan read the whole volume; it goes on, or opens, the same way.</translation>
    </message>
    <message>
        <source>上次的扫描只读取了未使用空间；继续或打开时照旧。</source>
        <translation>The last scan read unused space only; it goes on, or opens, the same way.</translation>
    </message>
    <message>
        <source>上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。</source>
        <translation>The saved scan is damaged, from another version or of another volume, and is ignored; the volume will be scanned afresh.</translation>
    </message>
</context>
<context>
    <name>CScanNoticeText</name>
    <message>
        <source>无法读取文件系统：现有文件的文档也会列出</source>
        <translation>The file system cannot be read: documents of existing files are listed too</translation>
    </message>
    <message>
        <source>分区表已损坏：仍会搜索整个磁盘</source>
        <translation>The partition table is damaged: the whole disk is still searched</translation>
    </message>
    <message>
        <source>扫描进度无法保存：扫描照常进行，但中断后不能继续</source>
        <translation>The scan cannot be saved: it goes on, but cannot be resumed if interrupted</translation>
    </message>
    <message>
        <source>这块磁盘有读不出的扇区，可能正在损坏：扫描结束后请先为它创建磁盘映像（tamsel-cli image），再扫描映像、从映像恢复</source>
        <translation>This disk has sectors that cannot be read and may be failing: once the scan ends, image it first (tamsel-cli image), then scan and recover from the image</translation>
    </message>
    <message>
        <source>此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。</source>
        <translation>This volume is not NTFS, FAT32, exFAT or ext4: documents of existing files are listed too.</translation>
    </message>
    <message>
        <source>只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。</source>
        <translation>Only on NTFS, FAT32, exFAT and ext4 can the scan tell which documents still belong to existing files; on other volumes every document found is listed.</translation>
    </message>
    <message>
        <source>已删除文件只能按内容找回，没有原文件名</source>
        <translation>Deleted files can be found by their content only, without their original names</translation>
    </message>
    <message>
        <source>ext4 删除文件时会清除它的数据位置，所以找回的文档以扇区号命名。</source>
        <translation>When ext4 deletes a file it clears where its data lay, so recovered documents are named by their sector.</translation>
    </message>
    <message>
        <source>没有读取权限，系统磁盘服务 udisks2 也不可用</source>
        <translation>no permission to read it, and the system disk service udisks2 is not available</translation>
    </message>
    <message>
        <source>没有读取权限，udisks2 也不管理此设备</source>
        <translation>no permission to read it, and udisks2 does not manage this device</translation>
    </message>
    <message>
        <source>授权被取消</source>
        <translation>the authorisation was cancelled</translation>
    </message>
    <message>
        <source>授权被拒绝</source>
        <translation>the authorisation was refused</translation>
    </message>
    <message>
        <source>等待授权超时</source>
        <translation>no answer to the authorisation in time</translation>
    </message>
    <message>
        <source>等待授权时已停止</source>
        <translation>stopped while waiting for the authorisation</translation>
    </message>
    <message>
        <source>udisks2 交回的不是此设备的只读描述符，未使用</source>
        <translation>udisks2 handed back something other than this device opened read-only; it was not used</translation>
    </message>
    <message>
        <source>udisks2 出错</source>
        <translation>udisks2 failed</translation>
    </message>
    <message>
        <source>udisks2 出错：%1</source>
        <translation>udisks2 failed: %1</translation>
    </message>
    <message>
        <source>无法打开 %1：%2。
请重新扫描，并在系统询问时输入密码；或用 sudo 运行 Tamsel。</source>
        <translation>Cannot open %1: %2.
Scan again and give your password when the system asks, or run Tamsel with sudo.</translation>
    </message>
    <message>
        <source>无法打开 %1：%2。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</source>
        <translation>Cannot open %1: %2.
Reading a raw disk needs administrator rights: run Tamsel with sudo, or add your user to the disk group and log in again.</translation>
    </message>
    <message>
        <source>找不到 %1：没有这个文件或设备。
请检查路径；移动硬盘或 U 盘可能已被拔出。</source>
        <translation>%1 cannot be found: there is no such file or device.
Check the path; a removable disk or USB stick may have been unplugged.</translation>
    </message>
    <message>
        <source>无法扫描 %1：它既不是磁盘，也不是磁盘镜像文件。</source>
        <translation>Cannot scan %1: it is neither a disk nor a disk image file.</translation>
    </message>
    <message>
        <source>系统拒绝访问 %1，尽管 Tamsel 已经以管理员身份运行。
这个设备可能被锁定或正被独占使用，或者 Tamsel 运行在看不到它的容器中。</source>
        <translation>The system refuses access to %1, although Tamsel runs as administrator.
The device may be locked or in exclusive use, or Tamsel runs in a container that cannot see it.</translation>
    </message>
    <message>
        <source>无法读取镜像文件 %1：没有读取权限（它属于其他用户，或只允许其所有者读取）。
请让文件的所有者允许读取（例如 chmod a+r），或者用能读取它的用户运行 Tamsel。</source>
        <translation>Cannot read the image file %1: no permission to read it (it belongs to another user, or only its owner may read it).
Ask its owner to allow reading (for example chmod a+r), or run Tamsel as a user who can read it.</translation>
    </message>
    <message>
        <source>无法打开 %1：没有读取权限。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</source>
        <translation>Cannot open %1: no permission to read it.
Reading a raw disk needs administrator rights: run Tamsel with sudo, or add your user to the disk group and log in again.</translation>
    </message>
    <message>
        <source>无法打开 %1：驱动器中没有介质。
请插入介质后重试。</source>
        <translation>Cannot open %1: there is no medium in the drive.
Insert the medium and try again.</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>无法打开 %1。</source>
        <translation>Cannot open %1.</translation>
    </message>
    <message>
        <source>扫描 %1 时出错，已停止；已找到的文档仍可恢复。
%2</source>
        <translation>The scan of %1 stopped on an error; the documents found so far can still be recovered.
%2</translation>
    </message>
    <message>
        <source>找到已删除的 %1 分区，位于扇区 %2，%3 GB</source>
        <translation>Found a deleted %1 partition at sector %2, %3 GB</translation>
    </message>
    <message>
        <source>没有找到丢失的文档</source>
        <translation>No lost documents were found</translation>
    </message>
    <message>
        <source>。
%1 不到一个扇区（512 字节）：它看起来不像磁盘或磁盘镜像。</source>
        <translation>.
%1 is smaller than one sector (512 bytes): it does not look like a disk or a disk image.</translation>
    </message>
    <message>
        <source>。
%1 上既没有可识别的文件系统，也没有任何文档：它看起来不像磁盘或磁盘镜像。</source>
        <translation>.
%1 holds neither a known file system nor any document: it does not look like a disk or a disk image.</translation>
    </message>
    <message>
        <source>。</source>
        <translation>.</translation>
    </message>
</context>
<context>
    <name>CScanProgressText</name>
    <message>
        <source>不到 1 分钟</source>
        <translation>under 1 min</translation>
    </message>
    <message>
        <source>%1 分钟</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 小时 %2 分钟</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1%  已扫描 %2 / %3</source>
        <translation>%1%  scanned %2 of %3</translation>
    </message>
    <message>
        <source>  剩余 %1</source>
        <translation>  %1 left</translation>
    </message>
    <message>
        <source>  无法读取 %1</source>
        <translation>  %1 unreadable</translation>
    </message>
    <message>
        <source>  读取缓慢 %1</source>
        <translation>  %1 read slowly</translation>
    </message>
    <message>
        <source>只扫描未使用空间</source>
        <translation>Scanning unused space only</translation>
    </message>
    <message>
        <source>已扫描全部未使用空间</source>
        <translation>All unused space was scanned</translation>
    </message>
    <message>
        <source>只扫描了部分未使用空间</source>
        <translation>Part of the unused space was scanned</translation>
    </message>
    <message>
        <source>只读取现有文件没有占用的部分：空闲的簇、丢失的簇链、文件系统之外的区域。要逐字节扫描整个卷，请返回并勾选“扫描整个卷”。</source>
        <translation>Only what live files do not hold is read: free clusters, lost cluster chains, whatever lies outside the file systems. To scan every byte of the volume, go back and tick “Scan the whole volume”.</translation>
    </message>
    <message>
        <source>扫描整个卷</source>
        <translation>Scanning the whole volume</translation>
    </message>
    <message>
        <source>已扫描整个卷</source>
        <translation>The whole volume was scanned</translation>
    </message>
    <message>
        <source>只扫描了部分卷</source>
        <translation>Part of the volume was scanned</translation>
    </message>
    <message>
        <source>逐字节读取整个卷：现有文件内部的文档也会列出。</source>
        <translation>Every byte of the volume is read: the documents inside live files are listed too.</translation>
    </message>
</context>
<context>
    <name>CSystemBusProbe</name>
    <message>
        <source>the system bus (%1) accepted the connection but did not answer within %2 s; it may be hung (restarting dbus, or the computer, mends that)</source>
        <translation>the system bus (%1) accepted the connection but did not answer within %2 s; it may be hung (restarting dbus, or the computer, mends that)</translation>
    </message>
    <message>
        <source>the system bus (%1) refused the connection</source>
        <translation>the system bus (%1) refused the connection</translation>
    </message>
    <message>
        <source>nothing listens at the system bus address %1</source>
        <translation>nothing listens at the system bus address %1</translation>
    </message>
</context>
<context>
    <name>CUDisksOpener</name>
    <message>
        <source>Scan again and give your password when asked, or run with sudo.</source>
        <translation>Scan again and give your password when asked, or run with sudo.</translation>
    </message>
    <message>
        <source>Raw access to a disk needs administrator rights: run with sudo, or add yourself to the &apos;disk&apos; group.</source>
        <translation>Raw access to a disk needs administrator rights: run with sudo, or add yourself to the &apos;disk&apos; group.</translation>
    </message>
    <message>
        <source>no read permission, and the disk service udisks2 that could grant it is not available</source>
        <translation>no read permission, and the disk service udisks2 that could grant it is not available</translation>
    </message>
    <message>
        <source>no read permission, and udisks2 does not manage this device</source>
        <translation>no read permission, and udisks2 does not manage this device</translation>
    </message>
    <message>
        <source>the authorisation was cancelled</source>
        <translation>the authorisation was cancelled</translation>
    </message>
    <message>
        <source>the authorisation was refused</source>
        <translation>the authorisation was refused</translation>
    </message>
    <message>
        <source>udisks2 did not answer in time</source>
        <translation>udisks2 did not answer in time</translation>
    </message>
    <message>
        <source>stopped while waiting for the authorisation</source>
        <translation>stopped while waiting for the authorisation</translation>
    </message>
    <message>
        <source>udisks2 handed back a descriptor that is not this device opened read-only, so it was not used</source>
        <translation>udisks2 handed back a descriptor that is not this device opened read-only, so it was not used</translation>
    </message>
    <message>
        <source>udisks2 failed</source>
        <translation>udisks2 failed</translation>
    </message>
    <message>
        <source>udisks2 failed: %1</source>
        <translation>udisks2 failed: %1</translation>
    </message>
    <message>
        <source>cannot open %1: %2.</source>
        <translation>cannot open %1: %2.</translation>
    </message>
</context>
<context>
    <name>CUnreadableDocument</name>
    <message>
        <source>bytes %1 to %2</source>
        <translation>bytes %1 to %2</translation>
    </message>
    <message>
        <source>unreadable sectors at %1</source>
        <translation>unreadable sectors at %1</translation>
    </message>
    <message>
        <source> and %1 more places</source>
        <translation> and %1 more places</translation>
    </message>
</context>
<context>
    <name>CWordDocumentCheck</name>
    <message>
        <source>the Word document&apos;s formatting pages do not hold</source>
        <translation>the Word document&apos;s formatting pages do not hold</translation>
    </message>
    <message>
        <source>the Word document&apos;s formatting page at byte %1 of its stream is damaged</source>
        <translation>the Word document&apos;s formatting page at byte %1 of its stream is damaged</translation>
    </message>
    <message>
        <source>the Word document&apos;s piece table does not hold</source>
        <translation>the Word document&apos;s piece table does not hold</translation>
    </message>
    <message>
        <source>the Word document&apos;s text lies outside its stream</source>
        <translation>the Word document&apos;s text lies outside its stream</translation>
    </message>
    <message>
        <source>the Word document&apos;s text breaks at byte %1 of its stream</source>
        <translation>the Word document&apos;s text breaks at byte %1 of its stream</translation>
    </message>
    <message>
        <source>the Word document&apos;s paragraph ending at byte %1 of its stream has no mark</source>
        <translation>the Word document&apos;s paragraph ending at byte %1 of its stream has no mark</translation>
    </message>
</context>
<context>
    <name>CZipDetailsReader</name>
    <message>
        <source>member %1 has no local header where the directory puts it</source>
        <translation>member %1 has no local header where the directory puts it</translation>
    </message>
    <message>
        <source>member %1 runs past the end of the document</source>
        <translation>member %1 runs past the end of the document</translation>
    </message>
    <message>
        <source>the archive has no end of central directory (it is cut short)</source>
        <translation>the archive has no end of central directory (it is cut short)</translation>
    </message>
    <message>
        <source>the archive&apos;s ZIP64 locator is missing</source>
        <translation>the archive&apos;s ZIP64 locator is missing</translation>
    </message>
    <message>
        <source>the archive&apos;s ZIP64 end record is missing</source>
        <translation>the archive&apos;s ZIP64 end record is missing</translation>
    </message>
    <message>
        <source>the central directory lies outside the document</source>
        <translation>the central directory lies outside the document</translation>
    </message>
    <message>
        <source>the central directory is damaged at entry %1</source>
        <translation>the central directory is damaged at entry %1</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>too large to check within the budget</translation>
    </message>
    <message>
        <source>member %1 is encrypted and was not checked</source>
        <translation>member %1 is encrypted and was not checked</translation>
    </message>
    <message>
        <source>member %1 uses compression method %2, which is not checked</source>
        <translation>member %1 uses compression method %2, which is not checked</translation>
    </message>
    <message>
        <source>member %1 is stored with two different sizes</source>
        <translation>member %1 is stored with two different sizes</translation>
    </message>
    <message>
        <source>member %1 inflates to more than its stated size</source>
        <translation>member %1 inflates to more than its stated size</translation>
    </message>
    <message>
        <source>member %1 does not inflate (its compressed data is damaged)</source>
        <translation>member %1 does not inflate (its compressed data is damaged)</translation>
    </message>
    <message>
        <source>member %1 inflates to %2 bytes, not the %3 its directory states</source>
        <translation>member %1 inflates to %2 bytes, not the %3 its directory states</translation>
    </message>
    <message>
        <source>member %1 fails its CRC-32 check</source>
        <translation>member %1 fails its CRC-32 check</translation>
    </message>
</context>
<context>
    <name>Orvik</name>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Recover</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>找到：</source>
        <translation>Found:</translation>
    </message>
    <message>
        <source>勾选：</source>
        <translation>Ticked:</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>正在扫描磁盘，你确定要退出？</source>
        <translation>A disk is being scanned. Do you really want to leave?</translation>
    </message>
    <message>
        <source>只扫描未使用空间</source>
        <translation>Scanning unused space only</translation>
    </message>
    <message>
        <source>没有名字或标题含有“%1”的文档。</source>
        <translation>No document has “%1” in its name or title.</translation>
    </message>
    <message>
        <source>预览 - %1</source>
        <translation>Preview - %1</translation>
    </message>
    <message>
        <source>筛选隐藏：</source>
        <translation>Filtered out:</translation>
    </message>
    <message>
        <source>没有符合筛选条件的文档。</source>
        <translation>No document matches the filters.</translation>
    </message>
    <message>
        <source>先创建磁盘映像</source>
        <translation>Image the disk first</translation>
    </message>
    <message>
        <source>映像旁的读取记录无法使用，映像按原样扫描：%1</source>
        <translation>The record of the reads beside the image cannot be used; the image is scanned as it is: %1</translation>
    </message>
    <message>
        <source>按类型</source>
        <translation>By type</translation>
    </message>
    <message>
        <source>按文件夹</source>
        <translation>By folder</translation>
    </message>
    <message>
        <source>按原文件夹恢复</source>
        <translation>Recover into original folders</translation>
    </message>
    <message>
        <source>按文档类型列出找到的文档</source>
        <translation>List the found documents by type</translation>
    </message>
    <message>
        <source>按已删除文件原来所在的文件夹列出；只凭内容找到的文档单独列在一处</source>
        <translation>List the deleted files in the folders they were in; documents found by content alone are listed apart</translation>
    </message>
    <message>
        <source>在输出文件夹中重建每个已删除文件原来的文件夹；只凭内容找到的文档和上级文件夹已丢失的文件放在 lost 文件夹中</source>
        <translation>Recreate each deleted file&apos;s original folder in the output folder; documents found by content alone, and files whose parent folders are lost, go into the folder lost</translation>
    </message>
</context>
<context>
    <name>PopupWindowTitle</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel Document Recovery Beta</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>tamsel: no Resources folder beside the program or in ../share/tamsel; the window is drawn without its images.</source>
        <translation>tamsel: no Resources folder beside the program or in ../share/tamsel; the window is drawn without its images.</translation>
    </message>
</context>
</TS>
