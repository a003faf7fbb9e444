#include "app/COutputFolderChoice.h"

#include "app/CMessageTips.h"
#include "app/IFileChooser.h"
#include "disk/CSameVolumeCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

QString COutputFolderChoice::choose(QWidget* parent, IFileChooser& chooser, const std::shared_ptr<IVolume>& volume)
{
    // 取消 in the question goes back to the folder chooser; cancelling the
    // chooser ends it. (Bounded, though every round waits for the user.)
    for (int round = 0; round < 1000; ++round) {
        const QString chosen = chooser.chooseOutputFolder(parent);
        if (chosen.isEmpty() || !volume)
            return chosen;
        const CSameVolumeCheck::Result same = CSameVolumeCheck().check(volume->name(), chosen);
        if (same.verdict == CSameVolumeCheck::Verdict::Different)
            return chosen;
        CMessageTips warning(parent);
        warning.setNotice(true);
        warning.cancelButton()->show();
        warning.setMessage(
            same.verdict == CSameVolumeCheck::Verdict::Same
                ? tr("所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。\n"
                     "请选择另一块磁盘上的文件夹。仍要恢复到这里吗？")
                : tr("无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。\n"
                     "仍要恢复到这里吗？"));
        if (warning.exec() == 1)
            return chosen;
    }
    return QString();
}

bool COutputFolderChoice::confirmHiddenTicked(QWidget* parent, int hidden)
{
    if (hidden <= 0)
        return true;
    CMessageTips ask(parent);
    ask.setNotice(true);
    ask.cancelButton()->show();
    ask.setMessage(tr("筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？").arg(hidden));
    return ask.exec() == 1;
}

QString COutputFolderChoice::recoveryFolder(const QString& chosen, const QDateTime& now)
{
    const QString base = QStringLiteral("Tamsel") + now.toString(QStringLiteral("yyyy.MM.dd")) +
                         QStringLiteral("_%1_%2_%3").arg(now.time().hour()).arg(now.time().minute()).arg(
                             now.time().second());
    const QDir dir(chosen);
    QString candidate = dir.filePath(base);
    for (int k = 1; QFileInfo::exists(candidate) && k <= 9999; ++k)
        candidate = dir.filePath(base + QStringLiteral(" (%1)").arg(k));
    return candidate;
}
