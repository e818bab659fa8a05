#include "converter/ui/app/translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

#include "converter/engine/strings.h"

namespace tav::ui {
namespace {

Q_LOGGING_CATEGORY(lcTranslation, "tavrion.ui.translation")

constexpr char kProgramCatalog[] = "tavrion-converter_";
constexpr char kQtCatalog[] = "qtbase_";

// "ko_KR.UTF-8@euro" -> "ko_KR".
QString LanguageOfLocale(const QString& locale) {
  return locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
}

// A language and its fallback without the region: "ko_KR" -> {"ko_KR", "ko"}.
QStringList WithFallback(const QString& language) {
  QStringList names{language};
  const qsizetype underscore = language.indexOf(QLatin1Char('_'));
  if (underscore > 0) names << language.left(underscore);
  return names;
}

// The catalog file of prefix for language in folder, or empty when there is none.
QString CatalogFile(const QString& folder, const char* prefix, const QString& language) {
  for (const QString& name : WithFallback(language)) {
    const QString path = QDir(folder).filePath(QLatin1String(prefix) + name + QStringLiteral(".qm"));
    if (QFileInfo(path).isFile()) return path;
  }
  return QString();
}

}  // namespace

QStringList UserLanguages() {
  QString locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = qEnvironmentVariable(name);
    if (!locale.isEmpty()) break;
  }
  const QString messages = LanguageOfLocale(locale);
  if (messages.isEmpty() || messages == QStringLiteral("C") || messages == QStringLiteral("POSIX"))
    return QStringList();
  QStringList wanted = qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  wanted << messages;
  QStringList languages;
  for (const QString& entry : wanted) {
    const QString language = LanguageOfLocale(entry);
    if (language == QStringLiteral("en") || language.startsWith(QStringLiteral("en_"))) break;
    if (!language.isEmpty() && !languages.contains(language)) languages << language;
  }
  return languages;
}

QString TranslationsFolder(const QString& programFolder) {
  return QDir::cleanPath(programFolder + QStringLiteral("/../share/tavrion-converter/translations"));
}

std::map<UINT, std::string> StringTableTexts(const QTranslator& translator) {
  std::map<UINT, std::string> texts;
  for (UINT id : res::Ids()) {
    if (!res::Translatable(id)) continue;
    const QString text = translator.translate(res::kTranslationContext, res::BuiltinText(id).c_str());
    if (!text.isEmpty()) texts[id] = text.toStdString();
  }
  return texts;
}

Translations::Translations() = default;

Translations::~Translations() { Remove(); }

bool Translations::Install(const QStringList& languages, const QString& folder) {
  Remove();
  for (const QString& language : languages) {
    const QString file = CatalogFile(folder, kProgramCatalog, language);
    if (file.isEmpty()) continue;
    auto own = std::make_unique<QTranslator>();
    if (!own->load(file)) {
      qCWarning(lcTranslation) << "cannot read the translation" << file;
      continue;
    }
    // Texts that a satellite strings file put in place win over the catalog's.
    std::map<UINT, std::string> texts = StringTableTexts(*own);
    for (UINT id : res::Ids())
      if (res::Text(id) != res::BuiltinText(id)) texts[id] = res::Text(id);
    res::SetTranslation(std::move(texts));
    QCoreApplication::installTranslator(own.get());
    own_ = std::move(own);

    const QString qtFile = CatalogFile(QLibraryInfo::path(QLibraryInfo::TranslationsPath), kQtCatalog, language);
    auto qt = std::make_unique<QTranslator>();
    if (!qtFile.isEmpty() && qt->load(qtFile)) {
      QCoreApplication::installTranslator(qt.get());
      qt_ = std::move(qt);
    }
    // Formats and localized resources (the manual) follow the texts' language.
    QLocale::setDefault(QLocale(language));
    language_ = language;
    return true;
  }
  return false;
}

void Translations::Remove() {
  if (!own_) return;
  if (qt_) QCoreApplication::removeTranslator(qt_.get());
  QCoreApplication::removeTranslator(own_.get());
  qt_.reset();
  own_.reset();
  language_.clear();
  QLocale::setDefault(QLocale::system());
  res::SetTranslation({});
}

}  // namespace tav::ui
