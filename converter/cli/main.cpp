// tavrion-convert [options] MOVIE|BATCH.tvc ...
// Converts movies (or the checked entries of batch files) to camera movies from the command
// line, with the same document, graph builder, conversion run and player as the GUI.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "converter/engine/conversionrun.h"
#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/path.h"
#include "converter/engine/startup.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "libs/captionparser/captionparser.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/folders.h"
#include "media/contract/sync.h"
#include "media/contract/window.h"

namespace {

using namespace tav;

constexpr const char* kVersion = "tavrion-convert 1.0";

void Usage(FILE* out) {
  std::fputs(
      "usage: tavrion-convert [options] MOVIE|BATCH.tvc ...\n"
      "The entry settings below apply to the movies given; the entries of a batch file\n"
      "keep their own.\n"
      "  --size 320x240|640x480        frame size\n"
      "  --fps 15|30                   frame rate\n"
      "  --fit fit|crop|stretch        screen fit\n"
      "  --split unlimited|32M|64M|128M|256M|512M\n"
      "  --subtitles FILE|none         subtitle file (default: the movie's own)\n"
      "  --language CODE               subtitle language (en-us, else the file's first)\n"
      "  --subtitle-size standard|bigger|smaller\n"
      "  --start TIME  --end TIME      trim points (seconds or [h:]mm:ss)\n"
      "  --output-dir DIR              folder of the output files\n"
      "  --remove-after                remove converted entries from the batch (a batch\n"
      "                                file given is saved again after the run)\n"
      "  --save-batch FILE             save the batch (converts only with --convert, and\n"
      "                                then saves the batch as the run left it)\n"
      "  --convert                     convert even when saving the batch\n"
      "  --quiet                       print only the result lines\n"
      "  --demo                        convert a generated sample movie with subtitles\n"
      "  --help  --version\n"
      "Subtitle files that are not UTF-8 are read in CP1252; set TAVRION_ANSI_CODEPAGE\n"
      "to another code page (for example CP949) for other legacy encodings.\n",
      out);
}

struct Options {
  std::optional<std::pair<int, int>> size;
  std::optional<double> fps;
  std::optional<int> fit;
  std::optional<ULONGLONG> split;
  std::optional<std::string> subtitles;
  std::optional<std::string> language;
  std::optional<std::string> subtitleSize;
  std::optional<REFERENCE_TIME> start, end;
  std::optional<std::string> outputDir;
  bool removeAfter = false;
  std::optional<std::string> saveBatch;
  bool convert = false;
  bool quiet = false;
  bool demo = false;
  std::vector<std::string> inputs;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "tavrion-convert: %s\n(try --help)\n", message.c_str());
  std::exit(2);
}

// Seconds ("12.5") or [h:]mm:ss; -1 when malformed.
REFERENCE_TIME ParseTime(const std::string& text) {
  if (text.empty()) return -1;
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t colon = text.find(':', from);
    parts.push_back(text.substr(from, colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (parts.size() > 3) return -1;
  double total = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    if (p.empty() || p.find_first_not_of("0123456789.") != std::string::npos) return -1;
    const bool last = i + 1 == parts.size();
    if (!last && p.find('.') != std::string::npos) return -1;
    char* endp = nullptr;
    const double v = std::strtod(p.c_str(), &endp);
    if (*endp) return -1;
    if (i > 0 && v >= 60) return -1;
    total = total * 60 + v;
  }
  if (total > 1e9) return -1;
  return static_cast<REFERENCE_TIME>(total * 10000000.0 + 0.5);
}

// path against the working folder, with "." and ".." resolved by name (links are kept).
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p(path);
  if (p.is_relative()) {
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) UsageError("the working folder cannot be read: " + ec.message());
    p = cwd / p;
  }
  std::string normal = p.lexically_normal().string();
  // A folder given with a trailing slash keeps it; a file name never has one.
  if (normal.size() > 1 && normal.back() == '/' && (path.empty() || path.back() != '/')) normal.pop_back();
  return normal;
}

Options Parse(int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) UsageError(std::string(argv[i]) + " needs a value");
    return argv[++i];
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.empty()) UsageError("an empty name was given");
    if (optionsEnded) {
      o.inputs.push_back(a);
    } else if (a == "--") {
      // Everything after it is a movie or batch file, even when it begins with a dash.
      optionsEnded = true;
    } else if (a == "--help") {
      Usage(stdout);
      std::exit(0);
    } else if (a == "--version") {
      std::puts(kVersion);
      std::exit(0);
    } else if (a == "--size") {
      const std::string v = value(i);
      if (v == "320x240") o.size = {320, 240};
      else if (v == "640x480") o.size = {640, 480};
      else UsageError("--size must be 320x240 or 640x480");
    } else if (a == "--fps") {
      const std::string v = value(i);
      if (v == "15") o.fps = 15.0;
      else if (v == "30") o.fps = 30.0;
      else UsageError("--fps must be 15 or 30");
    } else if (a == "--fit") {
      const std::string v = value(i);
      if (v == "fit") o.fit = CConvertOrder::kFit;
      else if (v == "crop") o.fit = CConvertOrder::kCrop;
      else if (v == "stretch") o.fit = CConvertOrder::kStretch;
      else UsageError("--fit must be fit, crop or stretch");
    } else if (a == "--split") {
      const std::string v = value(i);
      constexpr ULONGLONG M = 1024 * 1024;
      if (v == "unlimited") o.split = 0;
      else if (v == "32M") o.split = 32 * M;
      else if (v == "64M") o.split = 64 * M;
      else if (v == "128M") o.split = 128 * M;
      else if (v == "256M") o.split = 256 * M;
      else if (v == "512M") o.split = 512 * M;
      else UsageError("--split must be unlimited, 32M, 64M, 128M, 256M or 512M");
    } else if (a == "--subtitles") {
      o.subtitles = value(i);
      if (o.subtitles->empty()) UsageError("--subtitles needs a file name or none");
    } else if (a == "--language") {
      o.language = value(i);
    } else if (a == "--subtitle-size") {
      const std::string v = value(i);
      if (v == "standard") o.subtitleSize = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
      else if (v == "bigger") o.subtitleSize = "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
      else if (v == "smaller") o.subtitleSize = "30174FFF-6773-425b-BB87-BA5038C9EF4A";
      else UsageError("--subtitle-size must be standard, bigger or smaller");
    } else if (a == "--start" || a == "--end") {
      const std::string v = value(i);
      const REFERENCE_TIME t = ParseTime(v);
      if (t < 0) UsageError("bad time '" + v + "' (seconds or [h:]mm:ss)");
      (a == "--start" ? o.start : o.end) = t;
    } else if (a == "--output-dir") {
      o.outputDir = value(i);
      if (o.outputDir->empty()) UsageError("--output-dir needs a folder");
    } else if (a == "--remove-after") {
      o.removeAfter = true;
    } else if (a == "--save-batch") {
      o.saveBatch = value(i);
      if (o.saveBatch->empty()) UsageError("--save-batch needs a file name");
    } else if (a == "--convert") {
      o.convert = true;
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      UsageError("unknown option " + a);
    } else {
      o.inputs.push_back(a);
    }
  }
  if (o.inputs.empty() && !o.demo) UsageError("no movie or batch file given");
  // Every name is made absolute against the working folder here: a batch file stores names
  // relative to its own folder, and a name relative to another folder would name a file
  // that is not there.
  for (std::string& input : o.inputs) input = AbsolutePath(input);
  if (o.subtitles && *o.subtitles != "none") o.subtitles = AbsolutePath(*o.subtitles);
  if (o.outputDir) o.outputDir = AbsolutePath(*o.outputDir);
  if (o.saveBatch) o.saveBatch = AbsolutePath(*o.saveBatch);
  // Without --start the movie starts at 0, so "--end 0" alone leaves nothing to convert.
  if (o.end && *o.end <= o.start.value_or(0)) UsageError("--end must be after --start");
  return o;
}

// The output folder must exist and take new files; checked before anything is converted,
// since a run into it would fail every entry only once its graph starts. Returns the
// folder ending in a slash.
std::string CheckOutputFolder(std::string dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) UsageError("the output folder " + dir + " does not exist");
  if (!S_ISDIR(st.st_mode)) UsageError(dir + " is not a folder");
  if (dir.back() != '/') dir += '/';
  std::string probe = dir + ".tavrion-convert-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) UsageError("cannot write into the output folder " + dir + ": " + std::strerror(errno));
  ::close(fd);
  ::unlink(probe.c_str());
  return dir;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The batch is written only over nothing, an empty file or an older batch: never over a
// movie or a subtitle file named by mistake.
void CheckBatchTarget(const Options& o, const std::string& target) {
  for (const std::string& input : o.inputs)
    if (LowerExtension(input) != ".tvc" && SameFile(input, target))
      UsageError("--save-batch " + target + " names a movie being converted; it is kept");
  if (o.subtitles && SameFile(*o.subtitles, target))
    UsageError("--save-batch " + target + " names the subtitle file; it is kept");
  if (!CTavrionConverterDoc::MayOverwriteWithBatch(target))
    UsageError("--save-batch " + target + " is not a batch file; it is kept (choose another name)");
}

// Ctrl-C, SIGTERM and SIGHUP: the first acts as "Break" (handled on the main loop), so the
// movie being written is finished and plays; a second one quits at once.
volatile std::sig_atomic_t g_interrupts = 0;
// Written by the handler so that the main loop wakes at once: a Break that waited for the
// loop's next turn could land in a later part of a split.
int g_wakePipe[2] = {-1, -1};
void OnSigint(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2) _exit(1);
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &byte, 1);
  }
}

// Waits up to timeoutMs for a message of this thread or a Ctrl-C.
void WaitForMessageOrInterrupt(int timeoutMs) {
  pollfd fds[2] = {{MessageQueueFd(), POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
  if (poll(fds, g_wakePipe[0] >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[1].revents & POLLIN)) {
    char drain[16];
    while (read(g_wakePipe[0], drain, sizeof drain) > 0) {
    }
  }
}

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
    builder.SetConversionMode(true);
    builder.SetResize(false, 320, 240, 2);
    builder.SetFrameRate(false, 30.0);
    builder.SetBurnIn(false);
    builder.SetSubtitles(false, "", "", "");
    builder.SetWantedMajorType(MEDIATYPE_Video);
    builder.AddSourceAndRender(entry->SourcePath().Full());
    builder.SetWantedMajorType(GUID_NULL);
    builder.FinishGraph(false);
    LONGLONG duration = 0;
    builder.Seeking()->GetDuration(&duration);
    DWORD caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                 AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    const bool seekable = builder.Seeking()->CheckCapabilities(&caps) == S_OK;
    int w = 320, h = 240;
    builder.FindVideoSize(true, &w, &h);
    entry->SetSourceInfo(duration, w, h, seekable);
    entry->SetProbeResult(S_OK, MediaTypeValue(), std::string());
  } catch (const HRChecker& failure) {
    entry->SetProbeResult(failure.GetHr(), failure.GetMediaType(), failure.GetContext());
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
  BSTR path = SysAllocString(AnsiToWide(file).c_str());
  const HRESULT hr = path ? manager->LoadFile(path, FALSE) : E_OUTOFMEMORY;
  SysFreeString(path);
  if (FAILED(hr)) return codes;
  int count = 0;
  if (FAILED(manager->GetLanguageCount(&count))) return codes;
  for (int i = 0; i < count; ++i) {
    WCHAR* code = nullptr;
    if (SUCCEEDED(manager->GetLanguageCode(i, &code)) && code) codes.push_back(Utf16ToUtf8(code));
    CoTaskMemFree(code);
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

class ConsoleView : public DocumentObserver {
 public:
  explicit ConsoleView(CTavrionConverterDoc& doc) : doc_(doc) {}
  void OnDocumentUpdate(int hint, CConvertOrder* entry, const std::string*) override {
    if (hint == kHintRemoveConverted && entry) removed_.push_back(entry);
  }
  std::vector<CConvertOrder*> removed_;

 private:
  CTavrionConverterDoc& doc_;
};

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

std::string TimeOrUnknown(LONGLONG t) { return t == kUnknownRemaining ? std::string("--:--") : FormatTime(t); }

}  // namespace

int main(int argc, char** argv) {
  Options opt = Parse(argc, argv);
  if (opt.saveBatch) CheckBatchTarget(opt, *opt.saveBatch);
  std::string outputFolder;
  if (opt.outputDir) outputFolder = CheckOutputFolder(*opt.outputDir);
  if (opt.demo) {
    const std::string movie = MakeDemoSample();
    std::printf("Sample movie with English and French subtitles: %s\n", movie.c_str());
    opt.inputs.push_back(movie);
    if (!opt.language) opt.language = "en-US";
  }
  CoInitialize(nullptr);
  // Component libraries live next to the program in ../lib; registering them is repaired
  // here as the GUI does at start-up.
  // The graph library first: the others register their filters through its mapper.
  ReregisterCodecs(std::string(), {"tavrionstreaming"});
  ReregisterCodecs(std::string(), {"tavrionfilters", "captionparser", "vxvideokit", "vxcamwriter"});

  CTavrionConverterApp app;
  app.InitEnvironment("tavrion-convert.ini");
  CTavrionConverterDoc doc;
  ConsoleView view(doc);
  doc.AddObserver(&view);
  doc.SetRemoveAfterConversion(opt.removeAfter);

  auto builder = std::make_unique<FilterGraphBuilder>();
  FilterGraphBuilder* b = builder.get();
  if (FAILED(doc.AttachConversionGraph(std::move(builder), &app))) {
    std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
    return 1;
  }
  FilterGraphBuilder prober;
  if (FAILED(prober.Init())) {
    std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
    return 1;
  }
  prober.SetFilterVeto(&app);

  // Entries: a batch file first (its entries keep their own settings), then the movies.
  std::string batchFile;
  for (const std::string& input : opt.inputs) {
    if (LowerExtension(input) != ".tvc") continue;
    if (!batchFile.empty()) UsageError("only one batch file can be given");
    batchFile = input;
  }
  if (!batchFile.empty()) {
    std::string error;
    if (!doc.OnOpenDocument(batchFile, &error)) {
      std::fprintf(stderr, "tavrion-convert: %s: %s\n", batchFile.c_str(), error.c_str());
      return 1;
    }
    doc.SetRemoveAfterConversion(opt.removeAfter);
    // A loaded entry knows nothing of its source yet; without a probe it counts as not
    // seekable and its split size would read as 0.
    for (size_t i = 0; i < doc.GetCount(); ++i) {
      CConvertOrder* e = doc.GetAt(i);
      Probe(prober, e);
      if (e->IsChecked()) NoteDroppedSplit(e, e->GetStoredSplitSize());
    }
  }
  // The result lines, in the order of the command line. A movie that cannot be added (its
  // output file cannot be created) has a line of its own and is left out of the batch; the
  // others still convert.
  struct Row {
    std::string source;
    CConvertOrder* entry = nullptr;
    std::string failure;  // why the movie could not be added
  };
  std::vector<Row> rows;
  for (size_t i = 0; i < doc.GetCount(); ++i) rows.push_back({doc.GetAt(i)->SourcePath().Full(), doc.GetAt(i), {}});
  for (const std::string& input : opt.inputs) {
    if (input == batchFile) continue;
    CConvertOrder* e = nullptr;
    try {
      e = doc.AddOrder(input, outputFolder);
    } catch (const std::exception& ex) {
      std::string text = ex.what();
      std::replace(text.begin(), text.end(), '\n', ' ');
      rows.push_back({input, nullptr, res::FormatId(res::IDS_STATUS_ERROR_TEXT, {text})});
      continue;
    }
    rows.push_back({input, e, {}});
    Probe(prober, e);
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
  bool addFailed = false;
  for (const Row& row : rows) addFailed = addFailed || !row.entry;

  auto saveBatch = [&](const std::string& path) {
    std::string error;
    if (!doc.OnSaveDocument(path, &error)) {
      std::fprintf(stderr, "tavrion-convert: %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    if (!opt.quiet) std::printf("Saved the batch as %s\n", path.c_str());
    return true;
  };
  if (opt.saveBatch && !opt.convert) return saveBatch(*opt.saveBatch) && !addFailed ? 0 : 1;

  if (pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  PlayerCore player;
  ConversionRun run(doc, *b);
  // No screen to show the frames on: the tee feeds the exporter alone.
  run.SetLivePreview(false);
  run.StartConversion(&player);

  const bool tty = isatty(STDOUT_FILENO);
  int shownInterrupts = 0;
  DWORD lastPrint = 0;
  while (run.IsConverting()) {
    WaitForMessageOrInterrupt(200);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    if (g_interrupts > shownInterrupts) {
      shownInterrupts = g_interrupts;
      run.StopConversion();  // "Break"
      break;
    }
    if (opt.quiet || !run.IsConverting()) continue;
    const DWORD now = GetTickCount();
    if (!tty && now - lastPrint < 2000) continue;
    lastPrint = now;
    int index = 0, count = 0;
    doc.GetFileCounters(&index, &count);
    LONGLONG fe, fr, te, tr;
    const LONG filePct = run.MapFileProgress(0, 100);
    run.GetFileTimes(&fe, &fr);
    const LONG totalPct = run.MapTotalProgress(0, 100);
    run.GetTotalTimes(&te, &tr);
    CConvertOrder* cur = run.GetCurrent();
    REFERENCE_TIME span = cur ? cur->GetDuration() : 0;
    REFERENCE_TIME s = 0, e = 0;
    if (cur && cur->GetTrimPoints(&s, &e)) span = e - s;
    const LONGLONG estimate = cur ? EstimateOutputSize(*cur, span) : 0;
    char line[512];
    std::snprintf(line, sizeof line, "%s %ld%% %s/%s | file #%d from %d: %ld%% %s/%s | ~%lld KB",
                  cur ? cur->SourcePath().FileName().c_str() : "", long(filePct), FormatTime(fe).c_str(),
                  TimeOrUnknown(fr).c_str(), index + 1, count, long(totalPct), FormatTime(te).c_str(),
                  TimeOrUnknown(tr).c_str(), static_cast<long long>(estimate / 1024));
    if (tty) std::printf("\r\033[K%s", line);
    else std::printf("%s\n", line);
    std::fflush(stdout);
  }
  if (tty && !opt.quiet) std::printf("\r\033[K");

  int status = addFailed ? 1 : 0;
  std::vector<CConvertOrder*> entries;
  for (const Row& row : rows) {
    if (!row.entry) {
      std::printf("%s -> -: %s\n", row.source.c_str(), row.failure.c_str());
      continue;
    }
    CConvertOrder* e = row.entry;
    entries.push_back(e);
    std::string outputs;
    // Only files that are there: a failed entry's prepared name may never have been written.
    for (const std::string& f : run.OutputsOf(e)) {
      struct stat st {};
      if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) outputs += (outputs.empty() ? "" : ", ") + f;
    }
    if (outputs.empty()) outputs = "-";
    const bool converted = e->GetState() == CConvertOrder::kConverted;
    if (!converted) status = 1;
    std::printf("%s -> %s: %s\n", e->SourcePath().Full().c_str(), outputs.c_str(), e->GetStatusText().c_str());
  }
  if (opt.demo && status == 0 && !entries.empty() && !run.OutputsOf(entries.front()).empty())
    std::printf("The converted camera movie is at %s\n", run.OutputsOf(entries.front()).back().c_str());
  for (CConvertOrder* e : view.removed_) doc.RemoveOrder(e);
  // The batch as the run left it: converted entries unchecked, or gone with --remove-after.
  std::string batchOut;
  if (opt.saveBatch) batchOut = *opt.saveBatch;
  else if (opt.removeAfter && !view.removed_.empty()) batchOut = batchFile;
  if (!batchOut.empty() && !saveBatch(batchOut)) status = 1;
  app.ExitEnvironment();
  return status;
}
