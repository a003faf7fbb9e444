<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CAboutWnd</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel文件恢复工具Beta</translation>
    </message>
    <message>
        <source>&lt;font size=3&gt;只读扫描磁盘，恢复的文件请保存到另一块磁盘。&lt;/font&gt;</source>
        <translation>&lt;font size=3&gt;只读扫描磁盘，恢复的文件请保存到另一块磁盘。&lt;/font&gt;</translation>
    </message>
</context>
<context>
    <name>CAssemblyCheck</name>
    <message>
        <source>the pieces hold no bytes</source>
        <translation>这些片段不含任何字节</translation>
    </message>
    <message>
        <source>the archive does not end where its pieces end</source>
        <translation>压缩包的结尾与片段的结尾不一致</translation>
    </message>
    <message>
        <source>the document does not end where its pieces end</source>
        <translation>文档的结尾与片段的结尾不一致</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>文档太大，未在限额内完成校验</translation>
    </message>
</context>
<context>
    <name>CChoiceDiskWnd</name>
    <message>
        <source>扫描</source>
        <translation>扫描</translation>
    </message>
    <message>
        <source>打开镜像文件</source>
        <translation>打开镜像文件</translation>
    </message>
    <message>
        <source>硬盘：</source>
        <translation>硬盘：</translation>
    </message>
    <message>
        <source>请先选择一个磁盘</source>
        <translation>请先选择一个磁盘</translation>
    </message>
    <message>
        <source>扫描一个磁盘镜像文件（例如用 dd 制作的 .img）</source>
        <translation>扫描一个磁盘镜像文件（例如用 dd 制作的 .img）</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>扫描整个卷</source>
        <translation>扫描整个卷</translation>
    </message>
    <message>
        <source>默认只扫描未使用空间（现有文件占用的部分不再读取，快得多）；勾选后逐字节扫描整个卷，现有文件内部的文档（如归档或虚拟磁盘中的文档）也会列出。</source>
        <translation>默认只扫描未使用空间（现有文件占用的部分不再读取，快得多）；勾选后逐字节扫描整个卷，现有文件内部的文档（如归档或虚拟磁盘中的文档）也会列出。</translation>
    </message>
    <message>
        <source>先创建磁盘映像</source>
        <translation>先创建磁盘映像</translation>
    </message>
    <message>
        <source>这块磁盘正在损坏：先把它复制成映像文件（能读的先读），再扫描映像，不再反复读这块磁盘</source>
        <translation>这块磁盘正在损坏：先把它复制成映像文件（能读的先读），再扫描映像，不再反复读这块磁盘</translation>
    </message>
</context>
<context>
    <name>CCompoundStreamCheck</name>
    <message>
        <source>the workbook stream does not begin with a record</source>
        <translation>工作簿数据流不是以记录开头</translation>
    </message>
    <message>
        <source>the workbook&apos;s shared strings do not hold</source>
        <translation>工作簿的共享字符串表不成立</translation>
    </message>
    <message>
        <source>the workbook stream breaks at byte %1</source>
        <translation>工作簿数据流在字节 %1 处断开</translation>
    </message>
    <message>
        <source>the workbook&apos;s rows go back at byte %1</source>
        <translation>工作簿的行在字节 %1 处倒退</translation>
    </message>
    <message>
        <source>the presentation stream breaks at byte %1</source>
        <translation>演示文稿数据流在字节 %1 处断开</translation>
    </message>
</context>
<context>
    <name>CCompressedUnits</name>
    <message>
        <source>the compressed bytes %1 to %2 do not decompress: their clusters were overwritten or are damaged</source>
        <translation>压缩数据第 %1 至 %2 字节无法解压：其所在的簇已被覆盖或已损坏</translation>
    </message>
</context>
<context>
    <name>CConnectWnd</name>
    <message>
        <source>QQ号:</source>
        <translation>QQ号:</translation>
    </message>
    <message>
        <source>未公开</source>
        <translation>未公开</translation>
    </message>
    <message>
        <source>微信号:</source>
        <translation>微信号:</translation>
    </message>
    <message>
        <source>请在项目的问题列表中提出</source>
        <translation>请在项目的问题列表中提出</translation>
    </message>
</context>
<context>
    <name>CDetailsReader</name>
    <message>
        <source>no check for this type</source>
        <translation>此类型不做校验</translation>
    </message>
</context>
<context>
    <name>CDialogFileChooser</name>
    <message>
        <source>打开镜像文件</source>
        <translation>打开镜像文件</translation>
    </message>
    <message>
        <source>磁盘镜像 (*.img *.dd *.raw *.bin *.iso *.vhd *.E01 *.e01);;所有文件 (*)</source>
        <translation>磁盘镜像 (*.img *.dd *.raw *.bin *.iso *.vhd *.E01 *.e01);;所有文件 (*)</translation>
    </message>
</context>
<context>
    <name>CDiskButton</name>
    <message>
        <source>%1可用,共%2</source>
        <translation>%1可用,共%2</translation>
    </message>
    <message>
        <source>磁盘自检报告这块磁盘正在损坏</source>
        <translation>磁盘自检报告这块磁盘正在损坏</translation>
    </message>
    <message>
        <source>磁盘自检报告 %1 个坏扇区</source>
        <translation>磁盘自检报告 %1 个坏扇区</translation>
    </message>
    <message>
        <source>%1：%2。每读一遍它都可能更糟：请先为它创建磁盘映像（tamsel-cli image %3 磁盘.img），再扫描映像。</source>
        <translation>%1：%2。每读一遍它都可能更糟：请先为它创建磁盘映像（tamsel-cli image %3 磁盘.img），再扫描映像。</translation>
    </message>
</context>
<context>
    <name>CDonation</name>
    <message>
        <source>此软件为免费软件,如果对你有所帮助,请打赏.你的支持,会让软件变得更加完美.谢谢!</source>
        <translation>此软件为免费软件,如果对你有所帮助,请打赏.你的支持,会让软件变得更加完美.谢谢!</translation>
    </message>
    <message>
        <source>微信打赏</source>
        <translation>微信打赏</translation>
    </message>
    <message>
        <source>支付宝打赏</source>
        <translation>支付宝打赏</translation>
    </message>
</context>
<context>
    <name>CErrnoText</name>
    <message>
        <source>Input/output error</source>
        <translation>输入/输出错误</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>没有这个文件或目录</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>权限不够</translation>
    </message>
    <message>
        <source>Operation not permitted</source>
        <translation>不允许的操作</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>设备上没有空间</translation>
    </message>
    <message>
        <source>Disk quota exceeded</source>
        <translation>超出磁盘配额</translation>
    </message>
    <message>
        <source>File too large</source>
        <translation>文件过大</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>只读文件系统</translation>
    </message>
    <message>
        <source>File name too long</source>
        <translation>文件名过长</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>不是目录</translation>
    </message>
    <message>
        <source>Is a directory</source>
        <translation>是一个目录</translation>
    </message>
    <message>
        <source>File exists</source>
        <translation>文件已存在</translation>
    </message>
    <message>
        <source>No such device or address</source>
        <translation>没有这个设备或地址</translation>
    </message>
    <message>
        <source>No such device</source>
        <translation>没有这个设备</translation>
    </message>
    <message>
        <source>Device or resource busy</source>
        <translation>设备或资源忙</translation>
    </message>
    <message>
        <source>No medium found</source>
        <translation>找不到介质</translation>
    </message>
    <message>
        <source>Cannot allocate memory</source>
        <translation>无法分配内存</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>打开的文件过多</translation>
    </message>
    <message>
        <source>Invalid argument</source>
        <translation>无效的参数</translation>
    </message>
    <message>
        <source>Too many levels of symbolic links</source>
        <translation>符号链接的层数过多</translation>
    </message>
</context>
<context>
    <name>CEwfVolume</name>
    <message>
        <source>the E01 image %1 cannot be opened (%2). Check that the file exists and is readable.</source>
        <translation>无法打开 E01 镜像 %1（%2）。请确认该文件存在且可读。</translation>
    </message>
    <message>
        <source>the E01 image %1 cannot be read (%2). Keep all its segment files (.E01, .E02, ...) together in one folder.</source>
        <translation>无法读取 E01 镜像 %1（%2）。请把它的所有分段文件（.E01、.E02……）放在同一个文件夹中。</translation>
    </message>
    <message>
        <source>the E01 image %1 does not say how large the disk is (%2). The image is damaged.</source>
        <translation>E01 镜像 %1 没有说明磁盘大小（%2）。该镜像已损坏。</translation>
    </message>
</context>
<context>
    <name>CFileInfoTableModel</name>
    <message>
        <source>文件记录不完整，恢复出的文件会缺少部分内容</source>
        <translation>文件记录不完整，恢复出的文件会缺少部分内容</translation>
    </message>
    <message>
        <source>已被其他文件覆盖，恢复出的文件不是原来的内容</source>
        <translation>已被其他文件覆盖，恢复出的文件不是原来的内容</translation>
    </message>
    <message>
        <source>约 %1% 已被其他文件覆盖，恢复出的文件不完整</source>
        <translation>约 %1% 已被其他文件覆盖，恢复出的文件不完整</translation>
    </message>
    <message>
        <source>位置：%1</source>
        <translation>位置：%1</translation>
    </message>
    <message>
        <source>来源：已删除的文件</source>
        <translation>来源：已删除的文件</translation>
    </message>
    <message>
        <source>来源：已删除的文件，按内容也找到</source>
        <translation>来源：已删除的文件，按内容也找到</translation>
    </message>
    <message>
        <source>来源：按内容找到</source>
        <translation>来源：按内容找到</translation>
    </message>
    <message>
        <source>（已损坏）</source>
        <translation>（已损坏）</translation>
    </message>
    <message>
        <source>名字</source>
        <translation>名字</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>标题：%1</source>
        <translation>标题：%1</translation>
    </message>
    <message>
        <source>作者：%1</source>
        <translation>作者：%1</translation>
    </message>
    <message>
        <source>创建：%1</source>
        <translation>创建：%1</translation>
    </message>
    <message>
        <source>修改：%1</source>
        <translation>修改：%1</translation>
    </message>
    <message>
        <source>页数：%1</source>
        <translation>页数：%1</translation>
    </message>
    <message>
        <source>完整</source>
        <translation>完整</translation>
    </message>
    <message>
        <source>损坏：%1</source>
        <translation>损坏：%1</translation>
    </message>
    <message>
        <source>未校验</source>
        <translation>未校验</translation>
    </message>
    <message>
        <source>未校验：%1</source>
        <translation>未校验：%1</translation>
    </message>
    <message>
        <source>无文档信息</source>
        <translation>无文档信息</translation>
    </message>
    <message>
        <source>在已占用却无文件使用的簇中找到（孤立簇）</source>
        <translation>在已占用却无文件使用的簇中找到（孤立簇）</translation>
    </message>
    <message>
        <source>分 %1 段</source>
        <translation>分 %1 段</translation>
    </message>
    <message>
        <source>在一个现有文件内部找到（扫描整个卷时列出）</source>
        <translation>在一个现有文件内部找到（扫描整个卷时列出）</translation>
    </message>
    <message>
        <source>部分压缩数据已无法解压，恢复出的文件会缺少这部分内容</source>
        <translation>部分压缩数据已无法解压，恢复出的文件会缺少这部分内容</translation>
    </message>
</context>
<context>
    <name>CFileNodeModel</name>
    <message>
        <source>文件格式</source>
        <translation>文件格式</translation>
    </message>
</context>
<context>
    <name>CFilterBar</name>
    <message>
        <source>筛选</source>
        <translation>筛选</translation>
    </message>
    <message>
        <source>修改日期</source>
        <translation>修改日期</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>只显示完整的文档</source>
        <translation>只显示完整的文档</translation>
    </message>
    <message>
        <source>清除筛选</source>
        <translation>清除筛选</translation>
    </message>
    <message>
        <source>按名字或标题筛选</source>
        <translation>按名字或标题筛选</translation>
    </message>
    <message>
        <source>按修改日期、大小筛选，或只显示完整的文档</source>
        <translation>按修改日期、大小筛选，或只显示完整的文档</translation>
    </message>
    <message>
        <source>不限</source>
        <translation>不限</translation>
    </message>
    <message>
        <source>只显示经检查完整、没有被覆盖的文档</source>
        <translation>只显示经检查完整、没有被覆盖的文档</translation>
    </message>
    <message>
        <source>至</source>
        <translation>至</translation>
    </message>
    <message>
        <source>筛选（%1）</source>
        <translation>筛选（%1）</translation>
    </message>
</context>
<context>
    <name>CFolderNodeModel</name>
    <message>
        <source>仅按内容找到</source>
        <translation>仅按内容找到</translation>
    </message>
    <message>
        <source>没有文件记录、只凭内容找到的文档：原来的名字和文件夹已无从得知</source>
        <translation>没有文件记录、只凭内容找到的文档：原来的名字和文件夹已无从得知</translation>
    </message>
    <message>
        <source>已删除的文件，它们所在文件夹的上级文件夹已丢失</source>
        <translation>已删除的文件，它们所在文件夹的上级文件夹已丢失</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>文件夹</translation>
    </message>
</context>
<context>
    <name>CImagingPage</name>
    <message>
        <source>先创建磁盘映像</source>
        <translation>先创建磁盘映像</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>扫描映像</source>
        <translation>扫描映像</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>正在把 %1（%2）复制到 %3。先读能读的部分，跳过读不出的地方，最后再回头重读它们；之后的扫描和恢复都在映像上进行，不再读这块磁盘。</source>
        <translation>正在把 %1（%2）复制到 %3。先读能读的部分，跳过读不出的地方，最后再回头重读它们；之后的扫描和恢复都在映像上进行，不再读这块磁盘。</translation>
    </message>
    <message>
        <source>正在停止……</source>
        <translation>正在停止……</translation>
    </message>
    <message>
        <source>已读 %1 / %2</source>
        <translation>已读 %1 / %2</translation>
    </message>
    <message>
        <source>  无法读取 %1</source>
        <translation>  无法读取 %1</translation>
    </message>
    <message>
        <source>  正在重读跳过的区域</source>
        <translation>  正在重读跳过的区域</translation>
    </message>
    <message>
        <source>映像没有完成：%1</source>
        <translation>映像没有完成：%1</translation>
    </message>
    <message>
        <source>已停止。已读的部分在映像 %1 中，读取记录在 %2；再次为这块磁盘创建映像到同一位置，会从停下的地方继续。</source>
        <translation>已停止。已读的部分在映像 %1 中，读取记录在 %2；再次为这块磁盘创建映像到同一位置，会从停下的地方继续。</translation>
    </message>
    <message>
        <source>映像已写入 %1
读取记录（ddrescue 映射文件）已写入 %2</source>
        <translation>映像已写入 %1
读取记录（ddrescue 映射文件）已写入 %2</translation>
    </message>
    <message>
        <source>有 %1 读不出来，在映像中以零代替；扫描映像时这些位置算作无法读取。</source>
        <translation>有 %1 读不出来，在映像中以零代替；扫描映像时这些位置算作无法读取。</translation>
    </message>
    <message>
        <source>%1（%2）的映像：%3</source>
        <translation>%1（%2）的映像：%3</translation>
    </message>
</context>
<context>
    <name>CKnownBadVolume</name>
    <message>
        <source>cannot read the map file %1: %2.</source>
        <translation>无法读取映射文件 %1：%2。</translation>
    </message>
    <message>
        <source>%1 is not a ddrescue map file (%2).</source>
        <translation>%1 不是 ddrescue 映射文件（%2）。</translation>
    </message>
</context>
<context>
    <name>CMainWindow</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel文件恢复工具Beta</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>微信</source>
        <translation>微信</translation>
    </message>
    <message>
        <source>打赏</source>
        <translation>打赏</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>数据正在恢复，你确定要退出？</source>
        <translation>数据正在恢复，你确定要退出？</translation>
    </message>
    <message>
        <source>磁盘正在扫描，你确定要退出？</source>
        <translation>磁盘正在扫描，你确定要退出？</translation>
    </message>
    <message>
        <source>正在创建磁盘映像，你确定要退出？已读的部分会留在映像中，下次可以接着做。</source>
        <translation>正在创建磁盘映像，你确定要退出？已读的部分会留在映像中，下次可以接着做。</translation>
    </message>
    <message>
        <source>所选文件夹在要复制的磁盘上：映像会覆盖它要保存的数据。请选择另一块磁盘上的文件夹。</source>
        <translation>所选文件夹在要复制的磁盘上：映像会覆盖它要保存的数据。请选择另一块磁盘上的文件夹。</translation>
    </message>
</context>
<context>
    <name>CMessageTips</name>
    <message>
        <source>确认</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>COleDetailsReader</name>
    <message>
        <source>the compound document&apos;s header is missing</source>
        <translation>复合文档的文件头缺失</translation>
    </message>
    <message>
        <source>the compound document&apos;s header is damaged</source>
        <translation>复合文档的文件头已损坏</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table is larger than the document</source>
        <translation>复合文档的分配表比文档本身还大</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table list runs past the end of the document</source>
        <translation>复合文档的分配表列表超出了文档末尾</translation>
    </message>
    <message>
        <source>the compound document&apos;s allocation table lies past the end of the document</source>
        <translation>复合文档的分配表位于文档末尾之外</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory chain loops</source>
        <translation>复合文档的目录扇区链成环</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory runs past the end of the document</source>
        <translation>复合文档的目录超出了文档末尾</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory has no root entry</source>
        <translation>复合文档的目录没有根条目</translation>
    </message>
    <message>
        <source>the compound document&apos;s small-stream container runs past the end of the document</source>
        <translation>复合文档的小流容器超出了文档末尾</translation>
    </message>
    <message>
        <source>the compound document&apos;s small-block table runs past the end of the document</source>
        <translation>复合文档的小块分配表超出了文档末尾</translation>
    </message>
    <message>
        <source>stream %1&apos;s sector chain loops</source>
        <translation>流 %1 的扇区链成环</translation>
    </message>
    <message>
        <source>stream %1 runs past the end of the document</source>
        <translation>流 %1 超出了文档末尾</translation>
    </message>
    <message>
        <source>stream %1 is shorter than its stated length (%2 of %3 bytes)</source>
        <translation>流 %1 比其声明的长度短（%2 / %3 字节）</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>文档太大，未在限额内完成校验</translation>
    </message>
    <message>
        <source>the compound document&apos;s directory entry %1 is damaged</source>
        <translation>复合文档的目录项 %1 已损坏</translation>
    </message>
    <message>
        <source>the Word document&apos;s stream does not begin with its information block</source>
        <translation>Word 文档的数据流不以其文件信息块开头</translation>
    </message>
    <message>
        <source>the property set %1 is damaged</source>
        <translation>属性集 %1 已损坏</translation>
    </message>
</context>
<context>
    <name>COutputFolderChoice</name>
    <message>
        <source>所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。
请选择另一块磁盘上的文件夹。仍要恢复到这里吗？</source>
        <translation>所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。
请选择另一块磁盘上的文件夹。仍要恢复到这里吗？</translation>
    </message>
    <message>
        <source>无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。
仍要恢复到这里吗？</source>
        <translation>无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。
仍要恢复到这里吗？</translation>
    </message>
    <message>
        <source>筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？</source>
        <translation>筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？</translation>
    </message>
</context>
<context>
    <name>CParentWindow</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel文件恢复工具Beta</translation>
    </message>
</context>
<context>
    <name>CPartitionList</name>
    <message>
        <source>未知</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>本地磁盘</source>
        <translation>本地磁盘</translation>
    </message>
    <message>
        <source>整个磁盘</source>
        <translation>整个磁盘</translation>
    </message>
</context>
<context>
    <name>CPdfDetailsReader</name>
    <message>
        <source>the document has no startxref (its end is missing)</source>
        <translation>文档没有 startxref（结尾缺失）</translation>
    </message>
    <message>
        <source>startxref points outside the document</source>
        <translation>startxref 指向文档之外</translation>
    </message>
    <message>
        <source>the document has too many cross-reference sections</source>
        <translation>文档的交叉引用段过多</translation>
    </message>
    <message>
        <source>a cross-reference section lies outside the document</source>
        <translation>有交叉引用段位于文档之外</translation>
    </message>
    <message>
        <source>startxref or /Prev points to byte %1, where no cross-reference section is</source>
        <translation>startxref 或 /Prev 指向第 %1 字节，那里没有交叉引用段</translation>
    </message>
    <message>
        <source>the trailer after the cross-reference table cannot be read</source>
        <translation>交叉引用表之后的 trailer 无法读取</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 cannot be read</source>
        <translation>第 %1 字节处的交叉引用表无法读取</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 is cut short</source>
        <translation>第 %1 字节处的交叉引用表不完整</translation>
    </message>
    <message>
        <source>the cross-reference table at byte %1 has a damaged entry</source>
        <translation>第 %1 字节处的交叉引用表有损坏的条目</translation>
    </message>
    <message>
        <source>the cross-reference stream does not decode</source>
        <translation>交叉引用流无法解码</translation>
    </message>
    <message>
        <source>object %1 is placed at byte %2, past the end of the document</source>
        <translation>对象 %1 位于第 %2 字节，超出了文档末尾</translation>
    </message>
    <message>
        <source>object %1 is not at byte %2 where the cross-reference table puts it</source>
        <translation>对象 %1 不在交叉引用表所指的第 %2 字节处</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>文档太大，未在限额内完成校验</translation>
    </message>
    <message>
        <source>the stream of object %1 has no length inside the document</source>
        <translation>对象 %1 的数据流没有位于文档之内的长度</translation>
    </message>
    <message>
        <source>the stream of object %1 does not end where its /Length says</source>
        <translation>对象 %1 的数据流没有在其 /Length 所示之处结束</translation>
    </message>
    <message>
        <source>the stream of object %1 does not inflate (its data is damaged)</source>
        <translation>对象 %1 的数据流无法解压（数据已损坏）</translation>
    </message>
</context>
<context>
    <name>CPieceSearch</name>
    <message>
        <source>some of its clusters hold a piece of the document at byte %1, which its checks prove whole</source>
        <translation>其中一些簇存放着位于字节 %1 处的文档的片段，而该文档经校验证明是完整的</translation>
    </message>
    <message>
        <source>%1; more than one assembly of its pieces passes every check, so none is taken</source>
        <translation>%1；其片段不止一种拼合都通过了全部校验，因此一种也不采用</translation>
    </message>
</context>
<context>
    <name>CPreviewPane</name>
    <message>
        <source>十六进制</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>显示文档开头 64 KiB 的十六进制内容</source>
        <translation>显示文档开头 64 KiB 的十六进制内容</translation>
    </message>
    <message>
        <source>关闭预览</source>
        <translation>关闭预览</translation>
    </message>
    <message>
        <source>选择一行以预览文档</source>
        <translation>选择一行以预览文档</translation>
    </message>
    <message>
        <source>已损坏：%1</source>
        <translation>已损坏：%1</translation>
    </message>
    <message>
        <source>正在生成预览…</source>
        <translation>正在生成预览…</translation>
    </message>
    <message>
        <source>沙箱受限：未找到可用的 bubblewrap，预览程序可以读取文件系统</source>
        <translation>沙箱受限：未找到可用的 bubblewrap，预览程序可以读取文件系统</translation>
    </message>
    <message>
        <source>共 %1 页</source>
        <translation>共 %1 页</translation>
    </message>
    <message>
        <source>无法预览</source>
        <translation>无法预览</translation>
    </message>
</context>
<context>
    <name>CRecoveryControl</name>
    <message>
        <source>the source %1 can no longer be read (%2): the device was removed or has failed. Reconnect it and scan again.</source>
        <translation>源 %1 已无法读取（%2）：设备已被拔出或已损坏。请重新连接后再扫描。</translation>
    </message>
    <message>
        <source>no source to scan.</source>
        <translation>没有要扫描的源。</translation>
    </message>
    <message>
        <source>the scan of %1 stopped on an internal error: %2</source>
        <translation>%1 的扫描因内部错误而停止：%2</translation>
    </message>
    <message>
        <source>the scan of %1 stopped on an internal error.</source>
        <translation>%1 的扫描因内部错误而停止。</translation>
    </message>
    <message>
        <source>the scan of %1 could not start: %2</source>
        <translation>%1 的扫描无法开始：%2</translation>
    </message>
</context>
<context>
    <name>CRecoveryDataFiles</name>
    <message>
        <source>%1: the disk holding the output folder is full. Free some space there or choose a folder on another disk.</source>
        <translation>%1：输出文件夹所在的磁盘已满。请腾出空间，或选择另一块磁盘上的文件夹。</translation>
    </message>
    <message>
        <source>%1: the output folder&apos;s file system (or a file size limit) does not allow a file this large. Choose a folder on another file system.</source>
        <translation>%1：输出文件夹的文件系统（或文件大小限制）不允许这么大的文件。请选择另一个文件系统上的文件夹。</translation>
    </message>
    <message>
        <source>%1: no permission to write there. Choose a folder you can write to.</source>
        <translation>%1：没有写入权限。请选择一个可以写入的文件夹。</translation>
    </message>
    <message>
        <source>%1: the output folder is on a read-only file system. Choose another folder.</source>
        <translation>%1：输出文件夹在只读文件系统上。请选择另一个文件夹。</translation>
    </message>
    <message>
        <source>%1: choose an output folder with a shorter path.</source>
        <translation>%1：请选择路径更短的输出文件夹。</translation>
    </message>
    <message>
        <source>%1. Check the output disk and choose another folder if the problem stays.</source>
        <translation>%1。请检查输出磁盘；如果问题仍在，请选择另一个文件夹。</translation>
    </message>
    <message>
        <source>no output folder was given. Choose a folder to write the documents into.</source>
        <translation>没有指定输出文件夹。请选择一个文件夹来保存文档。</translation>
    </message>
    <message>
        <source>it exists and is not a folder. Choose another output folder.</source>
        <translation>它已存在，但不是文件夹。请选择另一个输出文件夹。</translation>
    </message>
    <message>
        <source>the folder cannot be created: %1</source>
        <translation>无法创建文件夹：%1</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (size %1). Scan the volume again.</source>
        <translation>找到的文档记录无效（大小 %1）。请重新扫描此卷。</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (start sector %1, size %2). Scan the volume again.</source>
        <translation>找到的文档记录无效（起始扇区 %1，大小 %2）。请重新扫描此卷。</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (a run of %1 bytes at %2). Scan the volume again.</source>
        <translation>找到的文档记录无效（位置 %2 处 %1 字节的片段）。请重新扫描此卷。</translation>
    </message>
    <message>
        <source>no volume to read from. Scan the volume again, then recover.</source>
        <translation>没有可读取的卷。请重新扫描此卷，然后再恢复。</translation>
    </message>
    <message>
        <source>the document (bytes %1 to %2) runs past the end of the volume %3 (%4 bytes). Scan the volume again.</source>
        <translation>文档（第 %1 到 %2 字节）超出了卷 %3 的末尾（%4 字节）。请重新扫描此卷。</translation>
    </message>
    <message>
        <source>the file cannot be created: %1</source>
        <translation>无法创建文件：%1</translation>
    </message>
    <message>
        <source>the output folder already holds %1 files of this name. Choose an empty folder.</source>
        <translation>输出文件夹中已有 %1 个同名文件。请选择一个空文件夹。</translation>
    </message>
    <message>
        <source>the finished file cannot be given its name: %1</source>
        <translation>无法为完成的文件命名：%1</translation>
    </message>
    <message>
        <source>the found document&apos;s record is invalid (compression unit of %1 bytes). Scan the volume again.</source>
        <translation>找到的文档记录无效（压缩单元 %1 字节）。请重新扫描该卷。</translation>
    </message>
    <message>
        <source>partly overwritten: other files now use %1% of it</source>
        <translation>部分已被覆盖：其中 %1% 现在属于其他文件</translation>
    </message>
    <message>
        <source>its file-system entry is cut short</source>
        <translation>它的文件系统记录不完整</translation>
    </message>
    <message>
        <source>its compressed bytes cannot be decompressed</source>
        <translation>它的压缩数据无法解压</translation>
    </message>
    <message>
        <source>damaged: %1</source>
        <translation>已损坏：%1</translation>
    </message>
    <message>
        <source>unreadable sectors in its compressed bytes %1 to %2 on %3</source>
        <translation>%3 上它的压缩数据第 %1 到 %2 字节处有无法读取的扇区</translation>
    </message>
    <message>
        <source>unreadable sectors at byte %1 of %2 (%3)</source>
        <translation>%2 的第 %1 字节处有无法读取的扇区（%3）</translation>
    </message>
    <message>
        <source>%1 ends at byte %2 now: it was shortened after the scan</source>
        <translation>%1 现在在第 %2 字节处就结束了：扫描之后它被截短了</translation>
    </message>
    <message>
        <source>the source %1 is gone (%2 at byte %3), so %4 and the documents after it were not written. The output folder is fine. Connect the disk again and recover what is left.</source>
        <translation>源 %1 已不可用（第 %3 字节处：%2），因此 %4 及其后的文档没有写入。输出文件夹没有问题。请重新连接磁盘，再恢复剩下的文档。</translation>
    </message>
    <message>
        <source>unreadable sectors at bytes %1 of the file</source>
        <translation>文件的第 %1 字节处有无法读取的扇区</translation>
    </message>
</context>
<context>
    <name>CRecoveryDialog</name>
    <message>
        <source>第1个文件正在恢复，总共%1个文件。</source>
        <translation>第1个文件正在恢复，总共%1个文件。</translation>
    </message>
    <message>
        <source>第%1个文件正在恢复,总共%2个文件。</source>
        <translation>第%1个文件正在恢复,总共%2个文件。</translation>
    </message>
    <message>
        <source>恢复完成！</source>
        <translation>恢复完成！</translation>
    </message>
    <message>
        <source>恢复失败，已停止。</source>
        <translation>恢复失败，已停止。</translation>
    </message>
    <message>
        <source>无法读取源磁盘上 %1 的数据（输出文件夹没有问题），此文件未保存。
%2</source>
        <translation>无法读取源磁盘上 %1 的数据（输出文件夹没有问题），此文件未保存。
%2</translation>
    </message>
    <message>
        <source>数据正在恢复，你确定要退出？</source>
        <translation>数据正在恢复，你确定要退出？</translation>
    </message>
    <message>
        <source>无法写入 %1：
%2</source>
        <translation>无法写入 %1：
%2</translation>
    </message>
    <message>
        <source>没有找到可以打开文件夹的程序。恢复的文档在：
%1</source>
        <translation>没有找到可以打开文件夹的程序。恢复的文档在：
%1</translation>
    </message>
    <message>
        <source>复制路径</source>
        <translation>复制路径</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>%1 个文件没有恢复：%2 个已损坏，%3 个所在扇区无法读取。单独勾选这样的文件，可以按原样恢复（无法读取的部分以零填充）。</source>
        <translation>%1 个文件没有恢复：%2 个已损坏，%3 个所在扇区无法读取。单独勾选这样的文件，可以按原样恢复（无法读取的部分以零填充）。</translation>
    </message>
</context>
<context>
    <name>CSavedScanQuestion</name>
    <message>
        <source>打开上次的结果</source>
        <translation>打开上次的结果</translation>
    </message>
    <message>
        <source>继续上次的扫描</source>
        <translation>继续上次的扫描</translation>
    </message>
    <message>
        <source>重新扫描</source>
        <translation>重新扫描</translation>
    </message>
    <message>
        <source>此卷上次的扫描已完成，可以直接打开它的结果。</source>
        <translation>此卷上次的扫描已完成，可以直接打开它的结果。</translation>
    </message>
    <message>
        <source>此卷上次的扫描没有完成，可以从停下的地方继续。</source>
        <translation>此卷上次的扫描没有完成，可以从停下的地方继续。</translation>
    </message>
    <message>
        <source>上次的扫描没有读取文件系统，现有文件的文档也列出；继续或打开时照旧。</source>
        <translation>上次的扫描没有读取文件系统，现有文件的文档也列出；继续或打开时照旧。</translation>
    </message>
    <message>
        <source>上次的扫描自动识别文件系统；继续或打开时照旧。</source>
        <translation>上次的扫描自动识别文件系统；继续或打开时照旧。</translation>
    </message>
    <message>
        <source>上次的扫描按 %1 读取文件系统；继续或打开时照旧。</source>
        <translation>上次的扫描按 %1 读取文件系统；继续或打开时照旧。</translation>
    </message>
    <message>
        <source>上次的扫描读取了整个卷；继续或打开时照旧。</source>
        <translation>上次的扫描读取了整个卷；继续或打开时照旧。</translation>
    </message>
    <message>
        <source>上次的扫描只读取了未使用空间；继续或打开时照旧。</source>
        <translation>上次的扫描只读取了未使用空间；继续或打开时照旧。</translation>
    </message>
    <message>
        <source>上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。</source>
        <translation>上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。</translation>
    </message>
</context>
<context>
    <name>CScanNoticeText</name>
    <message>
        <source>无法读取文件系统：现有文件的文档也会列出</source>
        <translation>无法读取文件系统：现有文件的文档也会列出</translation>
    </message>
    <message>
        <source>分区表已损坏：仍会搜索整个磁盘</source>
        <translation>分区表已损坏：仍会搜索整个磁盘</translation>
    </message>
    <message>
        <source>扫描进度无法保存：扫描照常进行，但中断后不能继续</source>
        <translation>扫描进度无法保存：扫描照常进行，但中断后不能继续</translation>
    </message>
    <message>
        <source>这块磁盘有读不出的扇区，可能正在损坏：扫描结束后请先为它创建磁盘映像（tamsel-cli image），再扫描映像、从映像恢复</source>
        <translation>这块磁盘有读不出的扇区，可能正在损坏：扫描结束后请先为它创建磁盘映像（tamsel-cli image），再扫描映像、从映像恢复</translation>
    </message>
    <message>
        <source>此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。</source>
        <translation>此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。</translation>
    </message>
    <message>
        <source>只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。</source>
        <translation>只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。</translation>
    </message>
    <message>
        <source>已删除文件只能按内容找回，没有原文件名</source>
        <translation>已删除文件只能按内容找回，没有原文件名</translation>
    </message>
    <message>
        <source>ext4 删除文件时会清除它的数据位置，所以找回的文档以扇区号命名。</source>
        <translation>ext4 删除文件时会清除它的数据位置，所以找回的文档以扇区号命名。</translation>
    </message>
    <message>
        <source>没有读取权限，系统磁盘服务 udisks2 也不可用</source>
        <translation>没有读取权限，系统磁盘服务 udisks2 也不可用</translation>
    </message>
    <message>
        <source>没有读取权限，udisks2 也不管理此设备</source>
        <translation>没有读取权限，udisks2 也不管理此设备</translation>
    </message>
    <message>
        <source>授权被取消</source>
        <translation>授权被取消</translation>
    </message>
    <message>
        <source>授权被拒绝</source>
        <translation>授权被拒绝</translation>
    </message>
    <message>
        <source>等待授权超时</source>
        <translation>等待授权超时</translation>
    </message>
    <message>
        <source>等待授权时已停止</source>
        <translation>等待授权时已停止</translation>
    </message>
    <message>
        <source>udisks2 交回的不是此设备的只读描述符，未使用</source>
        <translation>udisks2 交回的不是此设备的只读描述符，未使用</translation>
    </message>
    <message>
        <source>udisks2 出错</source>
        <translation>udisks2 出错</translation>
    </message>
    <message>
        <source>udisks2 出错：%1</source>
        <translation>udisks2 出错：%1</translation>
    </message>
    <message>
        <source>无法打开 %1：%2。
请重新扫描，并在系统询问时输入密码；或用 sudo 运行 Tamsel。</source>
        <translation>无法打开 %1：%2。
请重新扫描，并在系统询问时输入密码；或用 sudo 运行 Tamsel。</translation>
    </message>
    <message>
        <source>无法打开 %1：%2。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</source>
        <translation>无法打开 %1：%2。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</translation>
    </message>
    <message>
        <source>找不到 %1：没有这个文件或设备。
请检查路径；移动硬盘或 U 盘可能已被拔出。</source>
        <translation>找不到 %1：没有这个文件或设备。
请检查路径；移动硬盘或 U 盘可能已被拔出。</translation>
    </message>
    <message>
        <source>无法扫描 %1：它既不是磁盘，也不是磁盘镜像文件。</source>
        <translation>无法扫描 %1：它既不是磁盘，也不是磁盘镜像文件。</translation>
    </message>
    <message>
        <source>系统拒绝访问 %1，尽管 Tamsel 已经以管理员身份运行。
这个设备可能被锁定或正被独占使用，或者 Tamsel 运行在看不到它的容器中。</source>
        <translation>系统拒绝访问 %1，尽管 Tamsel 已经以管理员身份运行。
这个设备可能被锁定或正被独占使用，或者 Tamsel 运行在看不到它的容器中。</translation>
    </message>
    <message>
        <source>无法读取镜像文件 %1：没有读取权限（它属于其他用户，或只允许其所有者读取）。
请让文件的所有者允许读取（例如 chmod a+r），或者用能读取它的用户运行 Tamsel。</source>
        <translation>无法读取镜像文件 %1：没有读取权限（它属于其他用户，或只允许其所有者读取）。
请让文件的所有者允许读取（例如 chmod a+r），或者用能读取它的用户运行 Tamsel。</translation>
    </message>
    <message>
        <source>无法打开 %1：没有读取权限。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</source>
        <translation>无法打开 %1：没有读取权限。
读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，或把当前用户加入 disk 组后重新登录。</translation>
    </message>
    <message>
        <source>无法打开 %1：驱动器中没有介质。
请插入介质后重试。</source>
        <translation>无法打开 %1：驱动器中没有介质。
请插入介质后重试。</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
    <message>
        <source>无法打开 %1。</source>
        <translation>无法打开 %1。</translation>
    </message>
    <message>
        <source>扫描 %1 时出错，已停止；已找到的文档仍可恢复。
%2</source>
        <translation>扫描 %1 时出错，已停止；已找到的文档仍可恢复。
%2</translation>
    </message>
    <message>
        <source>找到已删除的 %1 分区，位于扇区 %2，%3 GB</source>
        <translation>找到已删除的 %1 分区，位于扇区 %2，%3 GB</translation>
    </message>
    <message>
        <source>没有找到丢失的文档</source>
        <translation>没有找到丢失的文档</translation>
    </message>
    <message>
        <source>。
%1 不到一个扇区（512 字节）：它看起来不像磁盘或磁盘镜像。</source>
        <translation>。
%1 不到一个扇区（512 字节）：它看起来不像磁盘或磁盘镜像。</translation>
    </message>
    <message>
        <source>。
%1 上既没有可识别的文件系统，也没有任何文档：它看起来不像磁盘或磁盘镜像。</source>
        <translation>。
%1 上既没有可识别的文件系统，也没有任何文档：它看起来不像磁盘或磁盘镜像。</translation>
    </message>
    <message>
        <source>。</source>
        <translation>。</translation>
    </message>
</context>
<context>
    <name>CScanProgressText</name>
    <message>
        <source>不到 1 分钟</source>
        <translation>不到 1 分钟</translation>
    </message>
    <message>
        <source>%1 分钟</source>
        <translation>%1 分钟</translation>
    </message>
    <message>
        <source>%1 小时 %2 分钟</source>
        <translation>%1 小时 %2 分钟</translation>
    </message>
    <message>
        <source>%1%  已扫描 %2 / %3</source>
        <translation>%1%  已扫描 %2 / %3</translation>
    </message>
    <message>
        <source>  剩余 %1</source>
        <translation>  剩余 %1</translation>
    </message>
    <message>
        <source>  无法读取 %1</source>
        <translation>  无法读取 %1</translation>
    </message>
    <message>
        <source>  读取缓慢 %1</source>
        <translation>  读取缓慢 %1</translation>
    </message>
    <message>
        <source>只扫描未使用空间</source>
        <translation>只扫描未使用空间</translation>
    </message>
    <message>
        <source>已扫描全部未使用空间</source>
        <translation>已扫描全部未使用空间</translation>
    </message>
    <message>
        <source>只扫描了部分未使用空间</source>
        <translation>只扫描了部分未使用空间</translation>
    </message>
    <message>
        <source>只读取现有文件没有占用的部分：空闲的簇、丢失的簇链、文件系统之外的区域。要逐字节扫描整个卷，请返回并勾选“扫描整个卷”。</source>
        <translation>只读取现有文件没有占用的部分：空闲的簇、丢失的簇链、文件系统之外的区域。要逐字节扫描整个卷，请返回并勾选“扫描整个卷”。</translation>
    </message>
    <message>
        <source>扫描整个卷</source>
        <translation>扫描整个卷</translation>
    </message>
    <message>
        <source>已扫描整个卷</source>
        <translation>已扫描整个卷</translation>
    </message>
    <message>
        <source>只扫描了部分卷</source>
        <translation>只扫描了部分卷</translation>
    </message>
    <message>
        <source>逐字节读取整个卷：现有文件内部的文档也会列出。</source>
        <translation>逐字节读取整个卷：现有文件内部的文档也会列出。</translation>
    </message>
</context>
<context>
    <name>CSystemBusProbe</name>
    <message>
        <source>the system bus (%1) accepted the connection but did not answer within %2 s; it may be hung (restarting dbus, or the computer, mends that)</source>
        <translation>系统总线（%1）接受了连接，但 %2 秒内没有应答；它可能已挂起（重启 dbus 或重启电脑即可恢复）</translation>
    </message>
    <message>
        <source>the system bus (%1) refused the connection</source>
        <translation>系统总线（%1）拒绝了连接</translation>
    </message>
    <message>
        <source>nothing listens at the system bus address %1</source>
        <translation>系统总线地址 %1 上没有服务在监听</translation>
    </message>
</context>
<context>
    <name>CUDisksOpener</name>
    <message>
        <source>Scan again and give your password when asked, or run with sudo.</source>
        <translation>请重新扫描，并在系统询问时输入密码；或用 sudo 运行。</translation>
    </message>
    <message>
        <source>Raw access to a disk needs administrator rights: run with sudo, or add yourself to the &apos;disk&apos; group.</source>
        <translation>读取原始磁盘需要管理员权限：请用 sudo 运行，或把当前用户加入 disk 组。</translation>
    </message>
    <message>
        <source>no read permission, and the disk service udisks2 that could grant it is not available</source>
        <translation>没有读取权限，系统磁盘服务 udisks2 也不可用</translation>
    </message>
    <message>
        <source>no read permission, and udisks2 does not manage this device</source>
        <translation>没有读取权限，udisks2 也不管理此设备</translation>
    </message>
    <message>
        <source>the authorisation was cancelled</source>
        <translation>授权被取消</translation>
    </message>
    <message>
        <source>the authorisation was refused</source>
        <translation>授权被拒绝</translation>
    </message>
    <message>
        <source>udisks2 did not answer in time</source>
        <translation>等待授权超时</translation>
    </message>
    <message>
        <source>stopped while waiting for the authorisation</source>
        <translation>等待授权时已停止</translation>
    </message>
    <message>
        <source>udisks2 handed back a descriptor that is not this device opened read-only, so it was not used</source>
        <translation>udisks2 交回的不是此设备的只读描述符，未使用</translation>
    </message>
    <message>
        <source>udisks2 failed</source>
        <translation>udisks2 出错</translation>
    </message>
    <message>
        <source>udisks2 failed: %1</source>
        <translation>udisks2 出错：%1</translation>
    </message>
    <message>
        <source>cannot open %1: %2.</source>
        <translation>无法打开 %1：%2。</translation>
    </message>
</context>
<context>
    <name>CUnreadableDocument</name>
    <message>
        <source>bytes %1 to %2</source>
        <translation>字节 %1 至 %2</translation>
    </message>
    <message>
        <source>unreadable sectors at %1</source>
        <translation>无法读取的扇区位于 %1</translation>
    </message>
    <message>
        <source> and %1 more places</source>
        <translation>，另有 %1 处</translation>
    </message>
</context>
<context>
    <name>CWordDocumentCheck</name>
    <message>
        <source>the Word document&apos;s formatting pages do not hold</source>
        <translation>Word 文档的格式页不成立</translation>
    </message>
    <message>
        <source>the Word document&apos;s formatting page at byte %1 of its stream is damaged</source>
        <translation>Word 文档数据流字节 %1 处的格式页已损坏</translation>
    </message>
    <message>
        <source>the Word document&apos;s piece table does not hold</source>
        <translation>Word 文档的文本片段表不成立</translation>
    </message>
    <message>
        <source>the Word document&apos;s text lies outside its stream</source>
        <translation>Word 文档的文本位于其数据流之外</translation>
    </message>
    <message>
        <source>the Word document&apos;s text breaks at byte %1 of its stream</source>
        <translation>Word 文档的文本在其数据流的字节 %1 处断开</translation>
    </message>
    <message>
        <source>the Word document&apos;s paragraph ending at byte %1 of its stream has no mark</source>
        <translation>Word 文档在其数据流字节 %1 处结束的段落没有段落标记</translation>
    </message>
</context>
<context>
    <name>CZipDetailsReader</name>
    <message>
        <source>member %1 has no local header where the directory puts it</source>
        <translation>成员 %1 在目录所指位置没有本地文件头</translation>
    </message>
    <message>
        <source>member %1 runs past the end of the document</source>
        <translation>成员 %1 超出了文档末尾</translation>
    </message>
    <message>
        <source>the archive has no end of central directory (it is cut short)</source>
        <translation>压缩包没有中央目录结束记录（文件不完整）</translation>
    </message>
    <message>
        <source>the archive&apos;s ZIP64 locator is missing</source>
        <translation>压缩包的 ZIP64 定位记录缺失</translation>
    </message>
    <message>
        <source>the archive&apos;s ZIP64 end record is missing</source>
        <translation>压缩包的 ZIP64 结束记录缺失</translation>
    </message>
    <message>
        <source>the central directory lies outside the document</source>
        <translation>中央目录位于文档之外</translation>
    </message>
    <message>
        <source>the central directory is damaged at entry %1</source>
        <translation>中央目录在第 %1 个条目处损坏</translation>
    </message>
    <message>
        <source>too large to check within the budget</source>
        <translation>文档太大，未在限额内完成校验</translation>
    </message>
    <message>
        <source>member %1 is encrypted and was not checked</source>
        <translation>成员 %1 已加密，未校验</translation>
    </message>
    <message>
        <source>member %1 uses compression method %2, which is not checked</source>
        <translation>成员 %1 使用压缩方法 %2，未校验</translation>
    </message>
    <message>
        <source>member %1 is stored with two different sizes</source>
        <translation>成员 %1 以存储方式保存，却记有两个不同的大小</translation>
    </message>
    <message>
        <source>member %1 inflates to more than its stated size</source>
        <translation>成员 %1 解压后超过其声明的大小</translation>
    </message>
    <message>
        <source>member %1 does not inflate (its compressed data is damaged)</source>
        <translation>成员 %1 无法解压（压缩数据已损坏）</translation>
    </message>
    <message>
        <source>member %1 inflates to %2 bytes, not the %3 its directory states</source>
        <translation>成员 %1 解压后为 %2 字节，而不是目录声明的 %3 字节</translation>
    </message>
    <message>
        <source>member %1 fails its CRC-32 check</source>
        <translation>成员 %1 的 CRC-32 校验未通过</translation>
    </message>
</context>
<context>
    <name>Orvik</name>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>找到：</source>
        <translation>找到：</translation>
    </message>
    <message>
        <source>勾选：</source>
        <translation>勾选：</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>正在扫描磁盘，你确定要退出？</source>
        <translation>正在扫描磁盘，你确定要退出？</translation>
    </message>
    <message>
        <source>只扫描未使用空间</source>
        <translation>只扫描未使用空间</translation>
    </message>
    <message>
        <source>没有名字或标题含有“%1”的文档。</source>
        <translation>没有名字或标题含有“%1”的文档。</translation>
    </message>
    <message>
        <source>预览 - %1</source>
        <translation>预览 - %1</translation>
    </message>
    <message>
        <source>筛选隐藏：</source>
        <translation>筛选隐藏：</translation>
    </message>
    <message>
        <source>没有符合筛选条件的文档。</source>
        <translation>没有符合筛选条件的文档。</translation>
    </message>
    <message>
        <source>先创建磁盘映像</source>
        <translation>先创建磁盘映像</translation>
    </message>
    <message>
        <source>映像旁的读取记录无法使用，映像按原样扫描：%1</source>
        <translation>映像旁的读取记录无法使用，映像按原样扫描：%1</translation>
    </message>
    <message>
        <source>按类型</source>
        <translation>按类型</translation>
    </message>
    <message>
        <source>按文件夹</source>
        <translation>按文件夹</translation>
    </message>
    <message>
        <source>按原文件夹恢复</source>
        <translation>按原文件夹恢复</translation>
    </message>
    <message>
        <source>按文档类型列出找到的文档</source>
        <translation>按文档类型列出找到的文档</translation>
    </message>
    <message>
        <source>按已删除文件原来所在的文件夹列出；只凭内容找到的文档单独列在一处</source>
        <translation>按已删除文件原来所在的文件夹列出；只凭内容找到的文档单独列在一处</translation>
    </message>
    <message>
        <source>在输出文件夹中重建每个已删除文件原来的文件夹；只凭内容找到的文档和上级文件夹已丢失的文件放在 lost 文件夹中</source>
        <translation>在输出文件夹中重建每个已删除文件原来的文件夹；只凭内容找到的文档和上级文件夹已丢失的文件放在 lost 文件夹中</translation>
    </message>
</context>
<context>
    <name>PopupWindowTitle</name>
    <message>
        <source>Tamsel文件恢复工具Beta</source>
        <translation>Tamsel文件恢复工具Beta</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>tamsel: no Resources folder beside the program or in ../share/tamsel; the window is drawn without its images.</source>
        <translation>tamsel：程序旁边和 ../share/tamsel 中都没有 Resources 文件夹；窗口将不显示图片。</translation>
    </message>
</context>
</TS>
