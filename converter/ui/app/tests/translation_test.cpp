// The program in Korean: the catalog the build compiles covers every translatable text of the
// string table without breaking what the program reads out of a text (its arguments, the
// status-bar/tooltip halves, menu shortcuts, mnemonics, file-dialog patterns); the language
// follows the locale settings as gettext reads them; Qt's dialogs and the manual follow the
// language; and installing a language can be undone, so English tests around it stay English.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <optional>
#include <set>

#include "converter/engine/strings.h"
#include "converter/ui/app/greatingboxdlg.h"
#include "converter/ui/app/helpwindow.h"
#include "converter/ui/app/translation.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

QString BuiltTranslations() { return TranslationsFolder(QString::fromStdString(tavtest::BuildDir() + "/bin")); }

// Sets the locale variables for one test and puts the old values back after it.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (const char* name : kNames)
      saved_.push_back(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt);
  }
  ~LocaleEnvironment() {
    for (size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i]) qputenv(kNames[i], *saved_[i]);
      else qunsetenv(kNames[i]);
    }
  }
  // Each of LANGUAGE, LC_ALL, LC_MESSAGES and LANG: set to its value, or unset when empty.
  void Set(const char* language, const char* all, const char* messages, const char* lang) {
    const char* values[] = {language, all, messages, lang};
    for (size_t i = 0; i < std::size(kNames); ++i) {
      if (*values[i]) qputenv(kNames[i], values[i]);
      else qunsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<QByteArray>> saved_;
};

TEST(Translation, LanguageFollowsTheLocaleAsGettextReadsIt) {
  LocaleEnvironment env;
  env.Set("", "", "", "ko_KR.UTF-8");
  EXPECT_EQ(UserLanguages(), QStringList{QStringLiteral("ko_KR")});
  env.Set("ko", "", "", "C.UTF-8");  // the tests' locale: LANGUAGE alone changes nothing
  EXPECT_TRUE(UserLanguages().isEmpty());
  env.Set("", "C", "", "ko_KR.UTF-8");  // LC_ALL wins over LANG
  EXPECT_TRUE(UserLanguages().isEmpty());
  env.Set("", "", "ko_KR.UTF-8", "C.UTF-8");
  EXPECT_EQ(UserLanguages(), QStringList{QStringLiteral("ko_KR")});
  env.Set("ko:en", "", "", "en_US.UTF-8");
  EXPECT_EQ(UserLanguages(), QStringList{QStringLiteral("ko")});
  env.Set("en:ko", "", "", "ko_KR.UTF-8");  // English first: no translation
  EXPECT_TRUE(UserLanguages().isEmpty());
  env.Set("de_DE:ko", "", "", "ko_KR.UTF-8@euro");
  EXPECT_EQ(UserLanguages(), (QStringList{QStringLiteral("de_DE"), QStringLiteral("ko"), QStringLiteral("ko_KR")}));
  env.Set("", "", "", "");
  EXPECT_TRUE(UserLanguages().isEmpty());
}

// What the program reads out of a text, which a translation must keep.
struct Shape {
  std::set<QString> arguments;  // %1 .. %9
  int lineBreaks = 0;           // "status-bar text\ntooltip" halves, paragraphs
  QString shortcut;             // after a tab: "&Open...\tCtrl+O"
  bool mnemonic = false;        // an "&" before a letter
  int items = 0;                // "a|b|c" lists
};

Shape ShapeOf(const QString& text) {
  Shape s;
  static const QRegularExpression argument(QStringLiteral("%[1-9]"));
  for (auto it = argument.globalMatch(text); it.hasNext();) s.arguments.insert(it.next().captured());
  s.lineBreaks = int(text.count(QLatin1Char('\n')));
  const qsizetype tab = text.indexOf(QLatin1Char('\t'));
  if (tab >= 0) s.shortcut = text.mid(tab + 1);
  static const QRegularExpression mnemonic(QStringLiteral("&[^&\\s]"));
  s.mnemonic = mnemonic.match(text).hasMatch();
  s.items = int(text.count(QLatin1Char('|')));
  return s;
}

TEST(Translation, KoreanCatalogCoversEveryTextAndKeepsItsShape) {
  QTranslator korean;
  ASSERT_TRUE(korean.load(BuiltTranslations() + QStringLiteral("/tavrion-converter_ko.qm")))
      << "the build puts the Korean catalog in " << BuiltTranslations().toStdString();
  const std::map<UINT, std::string> texts = StringTableTexts(korean);
  // Texts that read the same in Korean.
  const std::set<UINT> sameInKorean = {res::IDS_APP_TITLE};
  int translatable = 0;
  for (UINT id : res::Ids()) {
    if (!res::Translatable(id)) continue;
    ++translatable;
    const QString english = QString::fromStdString(res::BuiltinText(id));
    const auto found = texts.find(id);
    if (found == texts.end()) {
      ADD_FAILURE() << "string " << id << " has no Korean text: \"" << english.toStdString()
                    << "\" (cmake --build build --target update_translations, then translate it in "
                       "converter/ui/translations/tavrion-converter_ko.ts)";
      continue;
    }
    const QString ko = QString::fromStdString(found->second);
    if (!sameInKorean.count(id)) {
      EXPECT_NE(ko, english) << id << " is left in English";
    }
    const Shape e = ShapeOf(english), k = ShapeOf(ko);
    EXPECT_EQ(k.arguments, e.arguments) << id << ": " << ko.toStdString();
    EXPECT_EQ(k.lineBreaks, e.lineBreaks) << id << ": " << ko.toStdString();
    EXPECT_EQ(k.shortcut, e.shortcut) << id << ": " << ko.toStdString();
    EXPECT_EQ(k.mnemonic, e.mnemonic) << id << ": " << ko.toStdString();
    EXPECT_EQ(k.items, e.items) << id << ": " << ko.toStdString();
  }
  EXPECT_GT(translatable, 150);

  // The file dialogs' patterns and the batch document's extension and type names stay.
  for (UINT id : {res::IDS_VIDEO_FILTER, res::IDS_SUBTITLE_FILTER}) {
    const std::vector<std::string> english = res::SplitItems(res::BuiltinText(id));
    const std::vector<std::string> ko = res::SplitItems(texts.at(id));
    ASSERT_EQ(ko.size(), english.size());
    for (size_t i = 1; i < english.size(); i += 2) EXPECT_EQ(ko[i], english[i]) << id;
  }
  const QStringList english = QString::fromStdString(res::BuiltinText(res::IDR_MAINFRAME)).split(QLatin1Char('\n'));
  const QStringList ko = QString::fromStdString(texts.at(res::IDR_MAINFRAME)).split(QLatin1Char('\n'));
  ASSERT_EQ(ko.size(), english.size());
  for (int field : {0, 4, 5, 6}) EXPECT_EQ(ko[field], english[field]) << field;
}

TEST(Translation, InstallingKoreanReachesTheWindowsAndRemovingItRestoresEnglish) {
  Translations translations;
  EXPECT_FALSE(translations.Install({QStringLiteral("de_DE")}, BuiltTranslations()));
  EXPECT_EQ(res::Text(res::IDS_LABEL_SETTINGS), "Settings");

  // A satellite strings file loaded before keeps its texts.
  res::SetTranslation({{res::IDS_STATUS_READY, "Junbi"}});
  ASSERT_TRUE(translations.Install({QStringLiteral("de_DE"), QStringLiteral("ko_KR")}, BuiltTranslations()));
  EXPECT_EQ(translations.Language(), QStringLiteral("ko_KR"));
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Junbi");
  EXPECT_EQ(res::Text(res::IDS_LABEL_SETTINGS), "설정");
  EXPECT_EQ(res::Text(res::IDS_COMPANY_FOLDER), "Merolan");  // the data folder's name never changes
  {
    CGreatingBoxDlg notice(tavtest::MakeTempSubdir("notice") + "/profile.ini");
    EXPECT_EQ(notice.windowTitle(), QStringLiteral("알림"));
    EXPECT_EQ(notice.findChild<QPushButton*>()->text(), QStringLiteral("닫기"));
  }
  // Qt's own buttons come from Qt's Korean catalog, and the manual is the Korean one.
  QDialogButtonBox buttons(QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("취소"));
  EXPECT_TRUE(CHelpWindow().Text().contains(QStringLiteral("사용법"))) << CHelpWindow().Text().toStdString();

  translations.Remove();
  EXPECT_EQ(res::Text(res::IDS_LABEL_SETTINGS), "Settings");
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Ready");
  QDialogButtonBox english(QDialogButtonBox::Cancel);
  EXPECT_EQ(english.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(CHelpWindow().Text().contains(QStringLiteral("SYNOPSIS")));
}

}  // namespace
}  // namespace tav::ui
