// tavrion-convert's batch: the entries of a batch file and of the movies given, each probed
// and set up from the options; and the demo's sample movie.
#include "converter/cli/cli.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "converter/cli/jobs.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/framesize.h"
#include "converter/engine/moviefolder.h"
#include "converter/engine/path.h"
#include "converter/engine/recovery.h"
#include "converter/engine/previewgraph.h"
#include "converter/engine/strings.h"
#include "libs/captionparser/captionparser.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/memoryowners.h"

namespace tav::cli {
namespace {

// Probes an entry's source: duration, frame size and whether it can seek (which the split
// size needs), through a video-only conversion graph.
// A failed probe is recorded in the entry, whose status then names what could not be
// decoded.
void Probe(FilterGraphBuilder& builder, CConvertOrder* entry) {
  // A folder or a pipe is not opened at all (a pipe would wait for a writer); the run fails
  // the entry saying what it is.
  HRESULT problem = S_OK;
  if (!MovieFileProblem(entry->SourcePath().Full(), &problem).empty()) return;
  try {
    const ProbedLength probed = BuildProbeGraph(builder, entry->SourcePath().Full());
    int w = kSmallFrame.width, h = kSmallFrame.height;
    builder.FindVideoSize(true, &w, &h);
    entry->SetSourceInfo(probed.duration, w, h, probed.seekable);
    entry->SetProbeResult(S_OK, MediaTypeValue(), std::string());
  } catch (const HRChecker& failure) {
    // The context names what was missing when a class is not registered; any other
    // failure is told by its code and media type.
    entry->SetProbeResult(failure.GetHr(), failure.GetMediaType(),
                          failure.GetHr() == REGDB_E_CLASSNOTREG ? failure.GetContext() : std::string());
  }
  builder.SetWantedMajorType(GUID_NULL);
  builder.Clear();
}

// The language codes of a subtitle file in file order; none for a file without languages
// (SubRip) or one that cannot be loaded (the conversion reports that).
std::vector<std::string> SubtitleLanguages(const std::string& file) {
  std::vector<std::string> codes;
  ComPtr<ISubtitleManager> manager;
  if (FAILED(CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                              manager.AsVoidOut())) ||
      !manager)
    return codes;
  const BstrPtr path = BstrPtr::Copy(AnsiToWide(file).c_str());
  const HRESULT hr = path ? manager->LoadFile(path.Get(), FALSE) : E_OUTOFMEMORY;
  if (FAILED(hr)) return codes;
  int count = 0;
  if (FAILED(manager->GetLanguageCount(&count))) return codes;
  for (int i = 0; i < count; ++i) {
    TaskMemPtr<WCHAR> code;
    if (SUCCEEDED(manager->GetLanguageCode(i, code.Out())) && code) codes.push_back(Utf16ToUtf8(code.Get()));
  }
  return codes;
}

bool SameLanguage(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A subtitle file with languages shows only the captions of the selected one. A language the
// file lacks burns nothing in: one asked for is a usage error; the default one (a file that
// came with the movie) gives way to the file's first language, as the main form does.
void CheckSubtitleLanguage(const Options& o, const std::string& movie, CConvertOrder* e) {
  if (!e->UsesSubtitles() || e->SubtitlePath().Full().empty()) return;
  const std::vector<std::string> codes = SubtitleLanguages(e->SubtitlePath().Full());
  if (codes.empty()) return;
  for (const std::string& c : codes)
    if (SameLanguage(c, e->GetSubtitleLanguage())) return;
  if (o.language) {
    std::string list;
    for (const std::string& c : codes) list += (list.empty() ? "" : ", ") + c;
    UsageError(movie + ": the subtitle file " + e->SubtitlePath().Full() + " has no language " + *o.language +
               " (it has " + list + ")");
  }
  e->SetSubtitleLanguage(codes.front());
}

// A split that the entry cannot honour (its source cannot seek, or could not be probed) is
// dropped; the user hears of it.
void NoteDroppedSplit(const CConvertOrder* e, ULONGLONG requested) {
  if (requested == 0 || e->GetSplitSize() != 0) return;
  std::fprintf(stderr, "tavrion-convert: %s: %s, so it is converted into one file\n",
               e->SourcePath().Full().c_str(),
               e->HasProbeError() ? "the movie could not be read to find whether it can be split"
                                  : "the movie cannot seek and cannot be split");
}

}  // namespace

void ProbeAll(FilterGraphBuilder& prober, const std::vector<CConvertOrder*>& entries, int threads) {
  threads = std::min(threads, int(entries.size()));
  if (threads <= 1) {
    for (CConvertOrder* e : entries) Probe(prober, e);
    return;
  }
  // Each probe touches its own entry alone; the entries are taken in order as threads come
  // free.
  std::atomic<size_t> next{0};
  const auto probeTheRest = [&](FilterGraphBuilder& builder) {
    for (size_t i; (i = next++) < entries.size();) Probe(builder, entries[i]);
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t)
    helpers.emplace_back([&] {
      CoInitialize(nullptr);
      {
        FilterGraphBuilder builder;
        if (SUCCEEDED(builder.Init())) {
          builder.SetFilterVeto(prober.FilterVeto());
          probeTheRest(builder);
        }
      }
      CoUninitialize();
    });
  probeTheRest(prober);
  for (std::thread& h : helpers) h.join();
}

bool BuildBatch(const Options& opt, const std::string& outputFolder, CTavrionConverterDoc& doc,
                FilterGraphBuilder& prober, Batch* out, const ProbedSource* probed) {
  // Entries: a batch file first (its entries keep their own settings), then the movies.
  std::string& batchFile = out->batchFile;
  for (const std::string& input : opt.inputs) {
    if (LowerExtension(input) != ".tvc" || IsFolder(input)) continue;
    if (!batchFile.empty()) UsageError("only one batch file can be given");
    batchFile = input;
  }
  if (!batchFile.empty()) {
    std::string error;
    if (!doc.OnOpenDocument(batchFile, &error)) {
      std::fprintf(stderr, "tavrion-convert: %s: %s\n", batchFile.c_str(), error.c_str());
      return false;
    }
    doc.SetRemoveAfterConversion(opt.removeAfter);
    // A loaded entry knows nothing of its source yet; without a probe it counts as not
    // seekable and its split size would read as 0. An entry that is not checked is not
    // converted: its movie is never opened, so a batch of them ends at once.
    for (size_t i = 0; i < doc.GetCount(); ++i) {
      CConvertOrder* e = doc.GetAt(i);
      if (!e->IsChecked()) continue;
      if (probed && doc.GetCount() == 1) {
        e->SetSourceInfo(probed->duration, probed->width, probed->height, probed->seekable);
        e->SetProbeResult(S_OK, MediaTypeValue(), std::string());
      } else {
        Probe(prober, e);
      }
      NoteDroppedSplit(e, e->GetStoredSplitSize());
    }
  }
  // The result lines, in the order of the command line. A movie that cannot be added (its
  // output file cannot be created) has a line of its own and is left out of the batch; the
  // others still convert.
  std::vector<ResultRow>& rows = out->rows;
  for (size_t i = 0; i < doc.GetCount(); ++i) rows.push_back(ResultRow{doc.GetAt(i)->SourcePath().Full(), doc.GetAt(i), {}});
  // A folder stands for the movies inside it, in name order.
  std::vector<std::string> movies;
  for (const std::string& input : opt.inputs) {
    if (input == batchFile) continue;
    if (!IsFolder(input)) {
      movies.push_back(input);
      continue;
    }
    const std::vector<std::string> found = MovieFilesInFolder(input);
    if (found.empty())
      rows.push_back(ResultRow{input, nullptr,
                               res::FormatId(res::IDS_STATUS_ERROR_TEXT, {input + " is a folder without movie files"})});
    movies.insert(movies.end(), found.begin(), found.end());
  }
  std::vector<std::pair<std::string, CConvertOrder*>> added;
  for (const std::string& input : movies) {
    CConvertOrder* e = nullptr;
    try {
      e = doc.AddOrder(input, outputFolder);
    } catch (const std::exception& ex) {
      std::string text = ex.what();
      std::replace(text.begin(), text.end(), '\n', ' ');
      rows.push_back(ResultRow{input, nullptr, res::FormatId(res::IDS_STATUS_ERROR_TEXT, {text})});
      continue;
    }
    rows.push_back(ResultRow{input, e, {}});
    added.emplace_back(input, e);
  }
  // Movies converted N at a time are probed N at a time.
  std::vector<CConvertOrder*> toProbe;
  for (const auto& [input, e] : added) toProbe.push_back(e);
  ProbeAll(prober, toProbe, LanesFor(opt, int(toProbe.size())));
  for (const auto& [input, e] : added) {
    if (opt.size) e->SetFrameSize(opt.size->first, opt.size->second);
    if (opt.fps) e->SetFrameRate(*opt.fps);
    if (opt.fit) e->SetScreenFit(*opt.fit);
    if (opt.split) {
      e->SetSplitSize(*opt.split);
      NoteDroppedSplit(e, *opt.split);
    }
    if (opt.subtitles) {
      if (*opt.subtitles == "none") {
        e->SetUseSubtitles(false);
      } else {
        e->SetSubtitlePath(*opt.subtitles);
        e->SetUseSubtitles(true);
      }
    }
    if (opt.language) e->SetSubtitleLanguage(*opt.language);
    if (opt.subtitleSize) e->SetSubtitleSize(*opt.subtitleSize);
    CheckSubtitleLanguage(opt, input, e);
    // Trim points apply to every movie given; one that is too short for them fails alone
    // when the run reaches it, saying why, and the others convert.
    if (opt.start || opt.end) {
      const REFERENCE_TIME d = e->GetDuration();
      const REFERENCE_TIME end = opt.end ? *opt.end : (d > 0 && d != kUnknownTime ? d : -1);
      e->SetTrimPoints(opt.start ? *opt.start : 0, end);
    }
  }
  for (const ResultRow& row : rows) out->addFailed = out->addFailed || !row.entry;
  return true;

}

bool RestoreBatch(CTavrionConverterDoc& doc, FilterGraphBuilder& prober, RecoveryKeeper& keeper, Batch* out,
                  int probeThreads) {
  const std::vector<std::string> copies = FindOrphanedCopies();
  if (copies.empty()) {
    std::fprintf(stderr, "tavrion-convert: there is no unsaved batch to restore\n");
    return false;
  }
  std::string error;
  const std::optional<RecoveredBatch> batch = ReadOrphanedCopy(copies.front(), &error);
  if (!batch) {
    std::replace(error.begin(), error.end(), '\n', ' ');
    std::fprintf(stderr, "tavrion-convert: %s\n", error.c_str());
    return false;
  }
  try {
    LoadRecoveredBatch(doc, *batch);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavrion-convert: %s: %s\n", copies.front().c_str(), e.what());
    return false;
  }
  // A probe resets the state it finds; the states of the copy go back on afterwards.
  std::vector<CConvertOrder*> checked;
  for (size_t i = 0; i < doc.GetCount(); ++i)
    if (doc.GetAt(i)->IsChecked()) checked.push_back(doc.GetAt(i));
  ProbeAll(prober, checked, probeThreads);
  ApplyRecoveredStates(doc, *batch);
  for (size_t i = 0; i < doc.GetCount(); ++i) {
    CConvertOrder* e = doc.GetAt(i);
    if (e->IsChecked()) NoteDroppedSplit(e, e->GetStoredSplitSize());
    out->rows.push_back(ResultRow{e->SourcePath().Full(), e, {}});
  }
  // This program keeps the batch from here on; the copy it came from goes only once the
  // new one is written.
  keeper.SaveNow();
  if (keeper.LastError().empty()) DiscardOrphanedCopy(copies.front());
  return true;
}

constexpr const char* kDemoSubtitles =
    "<SAMI><HEAD><TITLE>Tavrion sample</TITLE><STYLE TYPE=\"text/css\"><!--\n"
    "P { text-align:center; font-family:Arial; }\n"
    ".ENUSCC {Name:English; lang:en-US; SAMIType:CC;}\n"
    ".FRFRCC {Name:French; lang:fr-FR; SAMIType:CC;}\n"
    "-->\n</STYLE></HEAD><BODY>\n"
    "<SYNC Start=0><P Class=ENUSCC>Hello from Tavrion\n"
    "<SYNC Start=0><P Class=FRFRCC>Bonjour de Tavrion\n"
    "<SYNC Start=2000><P Class=ENUSCC>This movie was converted for the camera\n"
    "<SYNC Start=2000><P Class=FRFRCC>Ce film a ete converti pour la camera\n"
    "<SYNC Start=4000><P Class=ENUSCC>&nbsp;\n"
    "<SYNC Start=4000><P Class=FRFRCC>&nbsp;\n"
    "</BODY></SAMI>\n";

// Makes the sample: a 5-second 352 x 240 MPEG-4 AVI with MP3 sound (made by the ffmpeg
// program) and a SAMI file in two languages next to it. Returns the movie's path.
std::string MakeDemoSample() {
  char folder[] = "/tmp/tavrion-demo-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("tavrion-convert: cannot create the sample folder");
    std::exit(1);
  }
  const std::string movie = std::string(folder) + "/sample.avi";
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x240:rate=30 "
      "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 5 -c:v mpeg4 -vtag XVID -q:v 4 "
      "-c:a libmp3lame -ac 2 -b:a 128k '" + movie + "'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "tavrion-convert: the sample movie could not be made (is ffmpeg installed?)\n");
    std::exit(1);
  }
  FILE* f = std::fopen((std::string(folder) + "/sample.smi").c_str(), "w");
  if (!f || std::fputs(kDemoSubtitles, f) < 0 || std::fclose(f) != 0) {
    std::fprintf(stderr, "tavrion-convert: the sample subtitles could not be written\n");
    std::exit(1);
  }
  return movie;
}

}  // namespace tav::cli
