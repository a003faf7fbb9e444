#include "app/CLanguage.h"

#include "app/CAppResources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
// One window, one language: the images that carry words follow it.
CLanguage::Language g_current = CLanguage::Language::Chinese;
} // namespace

CLanguage::CLanguage() = default;

CLanguage::~CLanguage()
{
    removeAll();
}

CLanguage::Language CLanguage::choose(const QString& override, const QLocale& locale)
{
    const QString wanted = override.trimmed().toLower();
    if (wanted == QLatin1String("zh"))
        return Language::Chinese;
    if (wanted == QLatin1String("en"))
        return Language::English;
    return locale.language() == QLocale::Chinese ? Language::Chinese : Language::English;
}

CLanguage::Language CLanguage::fromEnvironment()
{
    return choose(qEnvironmentVariable("TAMSEL_LANG"), QLocale::system());
}

QString CLanguage::code(Language language)
{
    return language == Language::Chinese ? QStringLiteral("zh_CN") : QStringLiteral("en");
}

QString CLanguage::folder()
{
    return CAppResources::path(QStringLiteral("translations"));
}

void CLanguage::removeAll()
{
    for (const std::unique_ptr<QTranslator>& translator : m_installed)
        QCoreApplication::removeTranslator(translator.get());
    if (!m_installed.empty())
        g_current = Language::Chinese;
    m_installed.clear();
    m_qtLoaded = false;
}

CLanguage::Language CLanguage::current()
{
    return g_current;
}

bool CLanguage::install(Language language)
{
    return install(language, folder());
}

bool CLanguage::install(Language language, const QString& folder)
{
    removeAll();
    m_language = language;
    // Qt's catalogue first: ours, installed last, is asked first.
    if (language == Language::Chinese) {
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt.get());
            m_installed.push_back(std::move(qt));
            m_qtLoaded = true;
        }
    }
    auto ours = std::make_unique<QTranslator>();
    if (!ours->load(QStringLiteral("tamsel_") + code(language), folder))
        return false;
    QCoreApplication::installTranslator(ours.get());
    m_installed.push_back(std::move(ours));
    g_current = language;
    // Dates, numbers and month names in Qt's own dialogs (the file dialog's
    // "Date Modified") follow the window's language, not LANG. An English
    // system keeps its own English (en_GB writes 7 Dec 2026).
    const QLocale system = QLocale::system();
    if (language == Language::Chinese)
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    else
        QLocale::setDefault(system.language() == QLocale::English ? system
                                                                  : QLocale(QLocale::English, QLocale::UnitedStates));
    return true;
}
