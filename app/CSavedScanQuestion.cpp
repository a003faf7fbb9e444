#include "app/CSavedScanQuestion.h"

#include "app/CMessageTips.h"
#include "scan/CRecoveryControl.h"

bool CSavedScanQuestion::ask(QWidget* parent, const CScanJournal::State& state, const QString& fileSystem,
                             bool wholeVolume)
{
    CMessageTips tips(parent);
    tips.setMessage(message(state, fileSystem, wholeVolume));
    tips.setButtonTexts(state.finished ? tr("打开上次的结果") : tr("继续上次的扫描"), tr("重新扫描"));
    return tips.exec() == 1;
}

QString CSavedScanQuestion::message(const CScanJournal::State& state, const QString& fileSystem, bool wholeVolume)
{
    // The saved scan goes on, or opens, the way it was made (the worker
    // follows its settings): say so where they differ from today's.
    QString message = state.finished ? tr("此卷上次的扫描已完成，可以直接打开它的结果。")
                                     : tr("此卷上次的扫描没有完成，可以从停下的地方继续。");
    const auto noFileSystem = [](const QString& name) {
        return name.isEmpty() || name.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
    };
    if (noFileSystem(state.fileSystem) && !noFileSystem(fileSystem))
        message += QLatin1Char('\n') + tr("上次的扫描没有读取文件系统，现有文件的文档也列出；继续或打开时照旧。");
    else if (state.fileSystem == CRecoveryControl::autoFileSystem() && fileSystem != state.fileSystem)
        message += QLatin1Char('\n') + tr("上次的扫描自动识别文件系统；继续或打开时照旧。");
    else if (!noFileSystem(state.fileSystem) && state.fileSystem != fileSystem)
        message += QLatin1Char('\n') + tr("上次的扫描按 %1 读取文件系统；继续或打开时照旧。").arg(state.fileSystem);
    if (state.wholeVolumeSaved && state.wholeVolume != wholeVolume)
        message += QLatin1Char('\n')
            + (state.wholeVolume ? tr("上次的扫描读取了整个卷；继续或打开时照旧。")
                                 : tr("上次的扫描只读取了未使用空间；继续或打开时照旧。"));
    return message;
}

void CSavedScanQuestion::tellIgnored(QWidget* parent, const QString& why)
{
    CMessageTips tips(parent);
    tips.setNotice(true);
    tips.setMessage(tr("上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。"));
    tips.setToolTip(why);
    tips.exec();
}
