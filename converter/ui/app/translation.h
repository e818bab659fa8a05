// The program in the user's language: the Qt Linguist translations (.qm) of the string table
// and of Qt's own dialogs, chosen from the locale settings. English is the built-in language.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <string>

#include "media/contract/wintypes.h"

class QTranslator;

namespace tav::ui {

// The languages the user reads messages in, best first ("ko_KR", "ko", ...), read as
// gettext reads them: the messages locale (LC_ALL, else LC_MESSAGES, else LANG), with the
// list of LANGUAGE in front of it. A "C" or "POSIX" messages locale means untranslated
// messages whatever LANGUAGE says, and the list ends at the first English entry, since
// English needs no translation.
QStringList UserLanguages();

// share/tavrion-converter/translations beside the program's bin folder: where the build
// puts the .qm files and where installing copies them.
QString TranslationsFolder(const QString& programFolder);

// The string table's texts in translator's language: every translatable id that the
// translator has a text for.
std::map<UINT, std::string> StringTableTexts(const QTranslator& translator);

class Translations {
 public:
  Translations();
  ~Translations();

  // Loads "tavrion-converter_<language>.qm" from folder for the first of languages that has
  // one ("ko_KR" falls back to "ko"), and Qt's own translation for that language; installs
  // both in the application, puts the translated texts into the string table (texts a
  // satellite strings file set before stay) and makes the language the default locale, so
  // that localized resources (the manual) follow. False, and nothing changed, when no
  // language has a translation.
  bool Install(const QStringList& languages, const QString& folder);
  // Takes the translators out again and restores the built-in texts and the system locale.
  void Remove();
  // The language installed, as the list named it ("ko_KR"), empty when none is.
  QString Language() const { return language_; }

 private:
  std::unique_ptr<QTranslator> own_;  // the program's texts
  std::unique_ptr<QTranslator> qt_;   // Qt's standard buttons and dialogs
  QString language_;
};

}  // namespace tav::ui
