// tavrion-convert's command line: the options, their checks and the names made absolute.
#include "converter/cli/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "converter/engine/document.h"
#include "converter/engine/framesize.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/path.h"
#include "media/contract/codepage.h"

namespace tav::cli {

namespace {

constexpr const char* kVersion = "tavrion-convert 1.0";

void Usage(FILE* out) {
  std::fputs(
      "usage: tavrion-convert [options] MOVIE|FOLDER|BATCH.tvc ...\n"
      "A folder adds the movies inside it and its subfolders, in name order. The entry\n"
      "settings below apply to the movies given; the entries of a batch file keep their own.\n"
      "  --size 320x240|640x480        frame size\n"
      "  --fps 15|30                   frame rate\n"
      "  --fit fit|crop|stretch        screen fit\n"
      "  --split unlimited|32M|64M|128M|256M|512M\n"
      "  --subtitles FILE|none         SAMI, SubRip, WebVTT or SSA/ASS file (default: the movie's own)\n"
      "  --language CODE               subtitle language (en-us, else the file's first)\n"
      "  --subtitle-size standard|bigger|smaller\n"
      "  --subtitle-encoding NAME      read subtitle files in this encoding (CP949, SHIFT_JIS,\n"
      "                                ...) instead of finding it\n"
      "  --start TIME  --end TIME      trim points (seconds or [h:]mm:ss)\n"
      "  --output-dir DIR              folder of the output files\n"
      "  --remove-after                remove converted entries from the batch (a batch\n"
      "                                file given is saved again after the run)\n"
      "  --save-batch FILE             save the batch (converts only with --convert, and\n"
      "                                then saves the batch as the run left it)\n"
      "  --convert                     convert even when saving the batch\n"
      "  --restore                     convert the unsaved batch that a crashed program or\n"
      "                                an interrupted run left (with --save-batch: only\n"
      "                                save it)\n"
      "  --resume                      with --restore: interrupted movies go on where they\n"
      "                                stopped, into their next numbered part\n"
      "  --jobs N|auto                 convert up to N movies at once (auto: one a core)\n"
      "  --quiet                       print only the result lines\n"
      "  --verbose                     also say which encoding each subtitle file was read in\n"
      "  --demo                        convert a generated sample movie with subtitles\n"
      "  --help  --version\n"
      "  --                            the names that follow are movies or batch files\n"
      "Subtitle files without a byte-order mark that are not UTF-8 are read in the encoding\n"
      "their text shows, or, when it is unclear, in CP1252; TAVRION_ANSI_CODEPAGE names\n"
      "another code page (for example CP949) for that case.\n",
      out);
}


}  // namespace

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "tavrion-convert: %s\n(try --help)\n", message.c_str());
  std::exit(2);
}

namespace {

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

}  // namespace

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
      if (v == "320x240") o.size = {kSmallFrame.width, kSmallFrame.height};
      else if (v == "640x480") o.size = {kLargeFrame.width, kLargeFrame.height};
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
    } else if (a == "--subtitle-encoding") {
      const std::string v = value(i);
      if (!IsKnownEncoding(v)) UsageError("unknown encoding '" + v + "' for --subtitle-encoding (for example CP949)");
      o.subtitleEncoding = v;
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
    } else if (a == "--restore") {
      o.restore = true;
    } else if (a == "--resume") {
      o.resume = true;
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--jobs") {
      const std::string v = value(i);
      char* end = nullptr;
      const long n = v == "auto" ? 0 : std::strtol(v.c_str(), &end, 10);
      if (v != "auto" && (v.empty() || *end != '\0' || n < 1 || n > kMaxJobs))
        UsageError("--jobs must be auto or a number from 1 to " + std::to_string(kMaxJobs));
      o.jobs = int(n);
    } else if (a == "--worker") {
      o.workerFd = std::atoi(value(i).c_str());
      if (o.workerFd < 3) UsageError("--worker is for the program's own workers");
    } else if (a == "--worker-cores") {
      const std::string v = value(i);
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > 4096) UsageError("--worker-cores must be a number from 1 to 4096");
      o.workerCores = int(n);
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      UsageError("unknown option " + a);
    } else {
      o.inputs.push_back(a);
    }
  }
  if (o.resume && !o.restore)
    UsageError("--resume goes on with the interrupted movies of a restored batch (use it with --restore)");
  if (o.restore && (!o.inputs.empty() || o.demo)) UsageError("--restore takes no movie or batch file");
  if (o.inputs.empty() && !o.demo && !o.restore && o.workerFd < 0) UsageError("no movie or batch file given");
  if (o.workerCores > 0 && o.workerFd < 0) UsageError("--worker-cores is for the program's own workers");
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

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

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

void CheckBatchTargetIsNoOutput(const std::string& target, const CTavrionConverterDoc& doc) {
  for (size_t i = 0; i < doc.GetCount(); ++i) {
    const CConvertOrder* e = doc.GetAt(i);
    if (e->IsChecked() && MayBecomeOutputOf(e->OutputPath().Full(), target))
      UsageError("--save-batch " + target + " is a name the movie converted from " + e->SourcePath().Full() +
                 " may take; choose another name");
  }
}

}  // namespace tav::cli
