#include "app/CScanProgressText.h"

#include <algorithm>

QString CScanProgressText::amountText(double bytes)
{
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 5) {
        bytes /= 1024.0;
        ++unit;
    }
    const int decimals = unit == 0 || bytes >= 100.0 ? 0 : 1;
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString CScanProgressText::timeLeftText(double seconds)
{
    if (seconds < 60.0)
        return tr("不到 1 分钟");
    const qint64 minutes = static_cast<qint64>(seconds / 60.0 + 0.5);
    if (minutes < 60)
        return tr("%1 分钟").arg(minutes);
    return tr("%1 小时 %2 分钟").arg(minutes / 60).arg(minutes % 60);
}

QString CScanProgressText::progressDetails(qint64 length, long long permille, double seconds, bool running)
{
    permille = std::max(0LL, std::min(1000LL, permille));
    const double share = static_cast<double>(permille) / 1000.0;
    QString text = tr("%1%  已扫描 %2 / %3")
                       .arg(share * 100.0, 0, 'f', 1)
                       .arg(amountText(static_cast<double>(length) * share), amountText(static_cast<double>(length)));
    // An estimate from the first moments or the first permille would jump
    // about: wait for both.
    if (running && permille > 0 && permille < 1000 && seconds >= 2.0) {
        const double left = seconds * static_cast<double>(1000 - permille) / static_cast<double>(permille);
        text += tr("  剩余 %1").arg(timeLeftText(left));
    }
    return text;
}

QString CScanProgressText::readTroubleText(qint64 unreadableBytes, qint64 slowBytes)
{
    // How much the disk would not give, and how much it gave only slowly,
    // so that the user sees why the scan takes its time.
    QString text;
    if (unreadableBytes > 0)
        text += tr("  无法读取 %1").arg(amountText(static_cast<double>(unreadableBytes)));
    if (slowBytes > 0)
        text += tr("  读取缓慢 %1").arg(amountText(static_cast<double>(slowBytes)));
    return text;
}

CScanProgressText::Plan CScanProgressText::readPlan(bool unusedSpaceOnly, PlanStage stage)
{
    Plan plan;
    if (unusedSpaceOnly) {
        plan.text = stage == PlanStage::Running    ? tr("只扫描未使用空间")
            : stage == PlanStage::Finished ? tr("已扫描全部未使用空间")
                                           : tr("只扫描了部分未使用空间");
        plan.tip = tr("只读取现有文件没有占用的部分：空闲的簇、丢失的簇链、文件系统之外的区域。"
                      "要逐字节扫描整个卷，请返回并勾选“扫描整个卷”。");
    } else {
        plan.text = stage == PlanStage::Running    ? tr("扫描整个卷")
            : stage == PlanStage::Finished ? tr("已扫描整个卷")
                                           : tr("只扫描了部分卷");
        plan.tip = tr("逐字节读取整个卷：现有文件内部的文档也会列出。");
    }
    return plan;
}
