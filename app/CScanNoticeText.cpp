#include "app/CScanNoticeText.h"

#include "disk/CErrnoText.h"
#include "scan/CRecoveryControl.h"

#include <cerrno>

CScanNoticeText::Warning CScanNoticeText::warning(int kind)
{
    Warning warning;
    switch (kind) {
    case CRecoveryControl::WarningFileSystem:
        warning.rank = 3;
        warning.note = tr("无法读取文件系统：现有文件的文档也会列出");
        break;
    case CRecoveryControl::WarningPartitionTable:
        warning.rank = 2;
        warning.note = tr("分区表已损坏：仍会搜索整个磁盘");
        break;
    case CRecoveryControl::WarningSession:
        warning.rank = 1;
        warning.note = tr("扫描进度无法保存：扫描照常进行，但中断后不能继续");
        break;
    default:
        warning.rank = 1;
        warning.note = noLiveFilePassNote();
        warning.tip = noLiveFilePassTip();
        break;
    }
    return warning;
}

QString CScanNoticeText::failingDiskNote()
{
    return tr("这块磁盘有读不出的扇区，可能正在损坏：扫描结束后请先为它创建磁盘映像"
              "（tamsel-cli image），再扫描映像、从映像恢复");
}

QString CScanNoticeText::noLiveFilePassNote()
{
    return tr("此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。");
}

QString CScanNoticeText::noLiveFilePassTip()
{
    return tr("只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。");
}

QString CScanNoticeText::ext4Note()
{
    return tr("已删除文件只能按内容找回，没有原文件名");
}

QString CScanNoticeText::ext4Tip()
{
    return tr("ext4 删除文件时会清除它的数据位置，所以找回的文档以扇区号命名。");
}

QString CScanNoticeText::serviceAnswerText(const CFileVolume::OpenError& failure)
{
    using Answer = CFileVolume::ServiceAnswer;
    switch (failure.service) {
    case Answer::NotAsked:
        break;
    case Answer::Missing:
        return tr("没有读取权限，系统磁盘服务 udisks2 也不可用");
    case Answer::UnknownDevice:
        return tr("没有读取权限，udisks2 也不管理此设备");
    case Answer::Dismissed:
        return tr("授权被取消");
    case Answer::Refused:
        return tr("授权被拒绝");
    case Answer::TimedOut:
        return tr("等待授权超时");
    case Answer::Stopped:
        return tr("等待授权时已停止");
    case Answer::UnsafeDescriptor:
        return tr("udisks2 交回的不是此设备的只读描述符，未使用");
    case Answer::Failed:
        return failure.serviceDetail.isEmpty() ? tr("udisks2 出错") : tr("udisks2 出错：%1").arg(failure.serviceDetail);
    }
    return QString();
}

QString CScanNoticeText::openFailureText(const QString& source, const CFileVolume::OpenError& error)
{
    using Kind = CFileVolume::SourceKind;
    using Answer = CFileVolume::ServiceAnswer;
    const bool denied = error.error == EACCES || error.error == EPERM;
    // udisks2 was asked for the device and said no: its answer is the reason.
    if (error.service == Answer::Dismissed || error.service == Answer::Refused || error.service == Answer::TimedOut)
        return tr("无法打开 %1：%2。\n请重新扫描，并在系统询问时输入密码；或用 sudo 运行 Tamsel。")
            .arg(source, serviceAnswerText(error));
    if (error.service != Answer::NotAsked && !(denied && error.privileged))
        return tr("无法打开 %1：%2。\n读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，"
                  "或把当前用户加入 disk 组后重新登录。")
            .arg(source, serviceAnswerText(error));
    if (error.kind == Kind::Missing || error.error == ENOENT)
        return tr("找不到 %1：没有这个文件或设备。\n请检查路径；移动硬盘或 U 盘可能已被拔出。").arg(source);
    if (error.kind == Kind::Other && error.error == 0)
        return tr("无法扫描 %1：它既不是磁盘，也不是磁盘镜像文件。").arg(source);
    if (denied && error.privileged)
        return tr("系统拒绝访问 %1，尽管 Tamsel 已经以管理员身份运行。\n"
                              "这个设备可能被锁定或正被独占使用，或者 Tamsel 运行在看不到它的容器中。")
            .arg(source);
    if (denied && error.kind == Kind::RegularFile)
        return tr("无法读取镜像文件 %1：没有读取权限（它属于其他用户，或只允许其所有者读取）。\n"
                              "请让文件的所有者允许读取（例如 chmod a+r），或者用能读取它的用户运行 Tamsel。")
            .arg(source);
    if (denied)
        return tr("无法打开 %1：没有读取权限。\n读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，"
                              "或把当前用户加入 disk 组后重新登录。")
            .arg(source);
    if (error.error == ENOMEDIUM)
        return tr("无法打开 %1：驱动器中没有介质。\n请插入介质后重试。").arg(source);
    if (error.error != 0)
        return tr("无法打开 %1：%2").arg(source, CErrnoText::text(error.error));
    return tr("无法打开 %1。").arg(source);
}

QString CScanNoticeText::scanFailedText(const QString& source, const QString& reason)
{
    return tr("扫描 %1 时出错，已停止；已找到的文档仍可恢复。\n%2").arg(source, reason);
}

QString CScanNoticeText::foundPartitionText(const QString& fileSystem, long long sector, long long bytes)
{
    return tr("找到已删除的 %1 分区，位于扇区 %2，%3 GB")
        .arg(fileSystem)
        .arg(sector)
        .arg(static_cast<double>(bytes) / 1e9, 0, 'f', bytes < 100000000 ? 2 : 1);
}

QString CScanNoticeText::emptyResultText(const CPartitionInfo& partition, qint64 length)
{
    const QString nothing = tr("没有找到丢失的文档");
    const QString name = partition.displayName.isEmpty() ? partition.devicePath : partition.displayName;
    if (length < 512)
        return nothing + tr("。\n%1 不到一个扇区（512 字节）：它看起来不像磁盘或磁盘镜像。").arg(name);
    if (partition.fileSystem.isEmpty())
        return nothing + tr("。\n%1 上既没有可识别的文件系统，也没有任何文档：它看起来不像磁盘或磁盘镜像。")
                             .arg(name);
    return nothing + tr("。");
}
