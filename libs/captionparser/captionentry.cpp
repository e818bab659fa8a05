#include "libs/captionparser/captionentry.h"

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

void CCaptionEntry::AddRun(std::string_view text, const CCaptionStyle* style) {
  std::string collapsed = CollapseEdgeSpace(text);
  std::string_view source(collapsed);
  CTextRun run;
  run.style = style;
  run.text.reserve(source.size());
  RegexMatch m;
  size_t pos = 0;
  while (pos < source.size() && Patterns().entity.Search(source, pos, &m)) {
    run.text.append(source.substr(pos, m.Start(0) - pos));
    if (EqualsNoCase(m.Group(1), "nbsp")) run.text.push_back(' ');
    pos = m.End(0);
  }
  run.text.append(source.substr(pos));
  runs_.push_back(std::move(run));
}

void CCaptionEntry::AddPlainRun(std::string_view text, const CCaptionStyle* style) {
  runs_.push_back(CTextRun{CollapseEdgeSpace(text), style});
}

}  // namespace captionparser
