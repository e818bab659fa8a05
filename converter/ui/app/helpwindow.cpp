#include "converter/ui/app/helpwindow.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"

namespace tav::ui {

namespace {

// Font changes and escapes inside a line of text.
QString Inline(QString text) {
  text = text.toHtmlEscaped();
  text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
  text.replace(QStringLiteral("\\(em"), QStringLiteral("&mdash;"));
  text.replace(QStringLiteral("\\e"), QStringLiteral("\\"));
  static const QRegularExpression font(QStringLiteral("\\\\f([BIRP])"));
  QString out;
  QString open;
  qsizetype at = 0;
  for (QRegularExpressionMatchIterator it = font.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(at, m.capturedStart() - at);
    if (!open.isEmpty()) out += QStringLiteral("</%1>").arg(open);
    const QChar f = m.captured(1)[0];
    open = f == QLatin1Char('B') ? QStringLiteral("b") : f == QLatin1Char('I') ? QStringLiteral("i") : QString();
    if (!open.isEmpty()) out += QStringLiteral("<%1>").arg(open);
    at = m.capturedEnd();
  }
  out += text.mid(at);
  if (!open.isEmpty()) out += QStringLiteral("</%1>").arg(open);
  return out;
}

// The arguments of a macro line (quoted ones kept together).
QStringList Arguments(const QString& rest) {
  QStringList args;
  static const QRegularExpression arg(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
  for (QRegularExpressionMatchIterator it = arg.globalMatch(rest); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    args << (m.captured(1).isNull() ? m.captured(2) : m.captured(1));
  }
  return args;
}

}  // namespace

QString ManPageToHtml(const QString& roff) {
  QString html;
  bool inParagraph = false, termNext = false;
  const auto closeParagraph = [&] {
    if (inParagraph) html += QStringLiteral("</p>\n");
    inParagraph = false;
  };
  const auto text = [&](const QString& s) {
    if (!inParagraph) {
      html += QStringLiteral("<p>");
      inParagraph = true;
    }
    html += s + QLatin1Char(' ');
    if (termNext) {
      html += QStringLiteral("<br>&nbsp;&nbsp;&nbsp;&nbsp;");
      termNext = false;
    }
  };
  for (const QString& line : roff.split(QLatin1Char('\n'))) {
    if (line.startsWith(QStringLiteral(".\\\"")) || line.startsWith(QStringLiteral("'\\\""))) continue;
    if (!line.startsWith(QLatin1Char('.'))) {
      if (!line.trimmed().isEmpty()) text(Inline(line));
      continue;
    }
    const qsizetype space = line.indexOf(QLatin1Char(' '));
    const QString macro = line.mid(1, space < 0 ? -1 : space - 1);
    const QStringList args = Arguments(space < 0 ? QString() : line.mid(space + 1));
    if (macro == QStringLiteral("TH")) {
      closeParagraph();
      html += QStringLiteral("<h2>%1</h2>\n").arg(args.value(0).toHtmlEscaped());
    } else if (macro == QStringLiteral("SH") || macro == QStringLiteral("SS")) {
      closeParagraph();
      html += QStringLiteral("<h3>%1</h3>\n").arg(Inline(args.join(QLatin1Char(' '))));
    } else if (macro == QStringLiteral("PP") || macro == QStringLiteral("P") || macro == QStringLiteral("LP")) {
      closeParagraph();
    } else if (macro == QStringLiteral("TP")) {
      closeParagraph();
      termNext = true;
    } else if (macro == QStringLiteral("B") || macro == QStringLiteral("I")) {
      const QString tag = macro == QStringLiteral("B") ? QStringLiteral("b") : QStringLiteral("i");
      text(QStringLiteral("<%1>%2</%1>").arg(tag, Inline(args.join(QLatin1Char(' ')))));
    } else if (macro.size() == 2 && QStringLiteral("BIR").contains(macro[0]) && QStringLiteral("BIR").contains(macro[1])) {
      // Alternating fonts: .BR bold, roman, bold, ...
      QString joined;
      for (qsizetype i = 0; i < args.size(); ++i) {
        const QChar f = macro[i % 2];
        const QString piece = Inline(args[i]);
        joined += f == QLatin1Char('B') ? QStringLiteral("<b>%1</b>").arg(piece)
                  : f == QLatin1Char('I') ? QStringLiteral("<i>%1</i>").arg(piece)
                                          : piece;
      }
      text(joined);
    }
  }
  closeParagraph();
  return html;
}

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("helpWindow"));
  setWindowTitle(ui::Text(res::IDS_APP_TITLE));
  auto* layout = new QVBoxLayout(this);
  auto* browser = new QTextBrowser(this);
  browser->setObjectName(QStringLiteral("manual"));
  QFile page(QStringLiteral(":/tavrion/manual.1"));
  if (page.open(QIODevice::ReadOnly)) browser->setHtml(ManPageToHtml(QString::fromUtf8(page.readAll())));
  layout->addWidget(browser);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(640, 520);
}

QString CHelpWindow::Text() const { return findChild<QTextBrowser*>(QStringLiteral("manual"))->toPlainText(); }

}  // namespace tav::ui
