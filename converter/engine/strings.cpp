#include "converter/engine/strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tav::res {
namespace {

struct Entry {
  UINT id;
  const char* text;
};

// Sorted by id.
constexpr Entry kBuiltin[] = {
    {IDR_MAINFRAME,
     "TavrionConverter\n\nTavrionConverte\nTavrionConverter Files (*.tvc)\n.tvc\nTavrionConverter.Document\n"
     "TavrionConverter.Document"},
    {IDS_COLUMN_SOURCE, "Source file"},
    {IDS_COLUMN_STATUS, "Status"},
    {IDS_COLUMN_DURATION, "Duration"},
    {IDS_COLUMN_FRAMESIZE, "Frame Size"},
    {IDS_COLUMN_FILESIZE, "File Size"},
    {IDS_COMPANY_FOLDER, "Merolan"},

    {IDS_SUBTITLE_EXT, ".smi"},
    {IDS_OUTPUT_EXT, ".qvf"},
    {IDS_OUTPUT_NAME, "%1[QVF]-%2%3"},
    {IDS_OUTPUT_NAME_NUMBERED, "%1%2[%4]%3"},
    {IDS_OUTPUT_NAME_PART, "%1%2%6%3"},
    {IDS_DEFAULT_LANGUAGE, "en-us"},
    {IDS_MOVIE_EXTENSIONS, ".avi.mpg.mpeg.wmv.asf.mov.qt.3gp.3gpp.3g2.3gp2.mp4.mpg4.m4v.mkv.webm.mts.m2ts.ts.vob.flv.qvf"},

    {IDS_STATUS_PLAYING, "Playing"},
    {IDS_STATUS_PAUSED, "Paused"},
    {IDS_STATUS_READY, "Ready"},
    {IDS_STATUS_CONVERTING, "Converting"},
    {IDS_STATUS_CONVERTED, "Converted"},
    {IDS_STATUS_INTERRUPTED, "Interrupted"},
    {IDS_STATUS_INTERRUPTED_AT, "Interrupted at %1"},
    {IDS_STATUS_ERROR, "Error"},
    {IDS_STATUS_ERROR_TEXT, "Error: %1"},
    {IDS_STATUS_BAD_SUBTITLES, "Invalid file of subtitles"},
    {IDS_STATUS_WITH_CODE, "%s (0x%08X)"},
    {IDS_STATUS_CANNOT_READ, "Cannot read"},
    {IDS_STATUS_NO_VIDEO_CODEC, "Cannot decode %1 video. Please install %1 video codec"},
    {IDS_STATUS_NO_AUDIO_CODEC, "Cannot decode %1 audio. Please install %1 audio codec"},
    {IDS_STATUS_NO_MEDIA_CODEC, "Cannot decode %1 media. Please install proper codec"},
    {IDS_CODEC_MPEG2, "MPEG 2"},
    {IDS_CODEC_DTS, "DTS"},
    {IDS_CODEC_AC3, "AC3"},
    {IDS_CODEC_PCM, "PCM"},
    {IDS_TIME_UNKNOWN, "--:--"},
    {IDS_STATUS_SUBTITLES_READ_AS, "%1 (subtitles read as %2)"},
    {IDS_STATUS_NO_VIDEO, "The file has no video to convert."},
    {IDS_STATUS_COVER_ONLY, "The file's only picture is a still cover image; there is no video to convert."},
    {IDS_TIP_SUBTITLES, "Subtitles: %1"},
    {IDS_TIP_SUBTITLES_ENCODING, "Subtitles: %1 (%2)"},

    {IDS_FORMAT_ITEMS, "Video for Merolan camera"},
    {IDS_FRAMESIZE_ITEMS, "320 x 240|640 x 480"},
    {IDS_FRAMERATE_ITEMS, "15 fps|30 fps"},
    {IDS_SCREENFIT_ITEMS, "Fit|Crop|Stretch"},
    {IDS_SPLIT_ITEMS, "unlimited|32 M|64 M|128 M|256 M|512 M"},
    {IDS_SIZE_SUFFIXES, "KMGT"},
    {IDS_VIDEO_FILTER,
     "Video Files|*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.mov;*.qt;*.3gp;*.3gpp;*.3g2;*.3gp2;*.mp4;*.mpg4;*.m4v;*.mkv;"
     "*.webm;*.mts;*.m2ts;*.ts;*.vob;*.flv;*.qvf|"
     "All Files|*.*||"},
    {IDS_SUBTITLE_FILTER, "Subtitles files|*.smi;*.srt;*.sami;*.vtt;*.ass;*.ssa|All files|*.*||"},
    {IDS_SUBTITLE_HINT, "Cannot find matching subtitle file"},
    {IDS_SUBSIZE_BIGGER, "Bigger"},
    {IDS_SUBSIZE_SMALLER, "Smaller"},
    {IDS_SUBSIZE_STANDARD, "Standard"},
    {IDS_ESTIMATED_SIZE, "Estimated file size %1B"},
    {IDS_CURRENT_FILE, "Current file: %1"},
    {IDS_ELAPSED, "Elapsed: %1"},
    {IDS_REMAINED, "Remained: %1"},
    {IDS_CONVERTING_FILE, "Converting file #%1 from %2"},
    {IDS_PLAY_STATUS, "current %1/ total %2"},
    {IDS_BUTTON_CONVERT, "&Convert"},
    {IDS_BUTTON_PAUSE, "&Pause"},
    {IDS_BUTTON_RESUME, "&Resume"},
    {IDS_BUTTON_BREAK, "&Break"},
    {IDS_MARKER_START, "Set movie start point\nMove to set start point"},
    {IDS_MARKER_END, "Set movie end point\nMove to set end point"},
    {IDS_IDLE_MESSAGE, "For Help, press F1"},
    {IDS_PREVIEW_FIT, "&Fit to window"},
    {IDS_PREVIEW_ACTUAL_SIZE, "&Actual size"},
    {IDS_PREVIEW_CROPPED, "actual size, drag to move"},
    {IDS_PREVIEW_CROPPED_TIP, "Shown at actual size: drag to move the picture, double-click to fit it to the window"},
    {IDS_PREVIEW_FITTED_TIP, "Fitted to the window: double-click to show it at actual size"},

    {IDS_LABEL_REMOVE_AFTER, "Remove &after conversion"},
    {IDS_LABEL_ADD_SUBTITLES, "Add subtitles"},
    {IDS_LABEL_USE_SUBTITLES, "&Use subtitles from file (*.smi)"},
    {IDS_LABEL_SUBTITLE_FILE, "Subti&tles file"},
    {IDS_LABEL_BROWSE_SUBTITLES, "Brows&e..."},
    {IDS_LABEL_LANGUAGE, "&Language"},
    {IDS_LABEL_SUBTITLE_SIZE, "Si&ze"},
    {IDS_LABEL_PRODUCE, "Produce"},
    {IDS_LABEL_OUTPUT_FOLDER, "Output fol&der"},
    {IDS_LABEL_BROWSE_FOLDER, "Bro&wse..."},
    {IDS_LABEL_OUTPUT_NAME, "Output file &name"},
    {IDS_LABEL_PMP_NOTICE, "To play in DSC, please make PMP folder in your memory card."},
    {IDS_LABEL_SETTINGS, "Settings"},
    {IDS_LABEL_OUTPUT_FORMAT, "&Output format"},
    {IDS_LABEL_FRAME_SIZE, "Frame &size"},
    {IDS_LABEL_FRAME_RATE, "Fra&me rate"},
    {IDS_LABEL_SCREEN_SIZE, "Screen s&ize"},
    {IDS_LABEL_SPLIT, "Split b&y size"},
    {IDS_LABEL_STATUS, "Status"},
    {IDS_LABEL_TIME_NOTICE, "The remained time can be changed by system loading and condition."},
    {IDS_MENU_ADD, "A&dd..."},
    {IDS_MENU_ADD_FILE, "&Add file..."},
    {IDS_MENU_REMOVE, "&Remove"},
    {IDS_MENU_PROPERTIES, "&Properties..."},
    {IDS_MENU_PLAY, "P&lay"},
    {IDS_MENU_DURATION, "&Duration"},
    {IDS_MENU_FRAME_SIZE, "&Frame size"},
    {IDS_MENU_FILE_SIZE, "File &size"},
    {IDS_MENU_HOME_PAGE, "&Merolan Camera Home"},
    {IDS_NOTICE_TITLE, "NOTICE"},
    {IDS_NOTICE_TEXT1, "Please use video files created by Tavrion Converter for PMP mode of Merolan camera."},
    {IDS_NOTICE_TEXT2,
     "Before converting a video file, please make sure the file can be played in Windows Media Player.\n\n"
     "If it cannot be played, please install an appropriate codec.\n"
     "After installing the codec, please reinstall Tavrion Converter."},
    {IDS_NOTICE_CLOSE, "Close"},
    {IDS_NOTICE_DONT_SHOW, "Don't show this message again"},
    {IDS_MENU_MOVE_UP, "Move &up"},
    {IDS_MENU_MOVE_DOWN, "Move do&wn"},
    {IDS_MENU_MODIFY_SOURCE, "&Modify source..."},
    {IDS_MENU_ADD_FOLDER, "Add &folder..."},

    {IDS_BATCH_OPEN_FAILED, "Cannot open the batch file %1.\n%2"},
    {IDS_BATCH_SAVE_FAILED, "Cannot save the batch file %1.\n%2"},
    {IDS_ARCHIVE_END_OF_FILE, "The file ends unexpectedly (at byte %1)."},
    {IDS_ARCHIVE_BAD_FORMAT, "The file is not a valid batch file (unexpected data at byte %1)."},
    {IDS_ARCHIVE_BAD_CLASS, "The file holds an object of an unknown kind (at byte %1)."},
    {IDS_ARCHIVE_BAD_INDEX, "The file refers to an object that does not exist (at byte %1)."},
    {IDS_FILE_CREATE_FAILED, "Cannot create the file %1.\n%2"},
    {IDS_FILE_READ_FAILED, "Cannot read the file %1.\n%2"},
    {IDS_RECOVERY_RESTORE, "The last batch was not saved. Restore it?"},
    {IDS_RECOVERY_DAMAGED, "The last batch could not be restored: its recovery copy is damaged and was kept as %1.\n%2"},
    {IDS_RESUME_QUESTION,
     "Some movies were interrupted. Continue them where they stopped?\n\n"
     "Yes writes the rest of each into its next numbered part; No converts them again from the start."},
    {IDS_OUTPUT_FOLDER_MISSING, "The output folder %1 does not exist"},
    {IDS_OUTPUT_FOLDER_READ_ONLY, "The output folder %1 is read-only"},
    {IDS_OUTPUT_FOLDER_NOT_FOLDER, "The output folder %1 is not a folder"},
    {IDS_OUTPUT_FOLDER_FAILED, "The output folder %1 takes no new file: %2"},

    {IDS_APP_TITLE, "Tavrion Converter"},
    {IDS_UNTITLED, "Untitled"},
    {IDS_MENU_FILE, "&File"},
    {IDS_MENU_NEW, "&New\tCtrl+N"},
    {IDS_MENU_OPEN, "&Open...\tCtrl+O"},
    {IDS_MENU_SAVE, "&Save\tCtrl+S"},
    {IDS_MENU_SAVE_AS, "Save &As..."},
    {IDS_MENU_RECENT_FILE, "Recent File"},
    {IDS_MENU_EXIT, "E&xit"},
    {IDS_MENU_VIEW, "&View"},
    {IDS_MENU_TOOLBAR, "&Toolbar"},
    {IDS_MENU_STATUS_BAR, "&Status Bar"},
    {IDS_MENU_HELP, "&Help"},
    {IDS_MENU_ABOUT, "&About Tavrion Converter..."},
    {IDS_PROMPT_NEW, "Create a new batch\nNew"},
    {IDS_PROMPT_OPEN, "Open an existing batch\nOpen"},
    {IDS_PROMPT_SAVE, "Save the batch\nSave"},
    {IDS_PROMPT_SAVE_AS, "Save the batch with a new name\nSave As"},
    {IDS_PROMPT_RECENT_FILE, "Open this file\nOpen"},
    {IDS_PROMPT_EXIT, "Quit the application\nExit"},
    {IDS_PROMPT_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {IDS_PROMPT_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
    {IDS_PROMPT_ABOUT, "Display program information, version number and copyright\nAbout"},
    {IDS_PROMPT_HOME_PAGE, "Visit the Merolan camera home page\nHome page"},
    {IDS_HOME_PAGE_URL, "https://www.merolan.com/"},
    {IDS_ABOUT_TITLE, "About Tavrion Converter"},
    {IDS_ABOUT_VERSION, "Tavrion Converter Version %1"},
    {IDS_ABOUT_COPYRIGHT, "Converts movies for the PMP mode of Merolan cameras."},
    {IDS_BUTTON_OK, "OK"},
    {IDS_ALL_FILES_FILTER, "All Files (*.*)"},
    {IDS_FILE_NOT_FOUND, "%1\nFile not found."},
    {IDS_NO_DISPLAY,
     "%1: cannot open a display (%2). Start it from a desktop session, or set DISPLAY or WAYLAND_DISPLAY."},
    {IDS_HOME_PAGE_FAILED, "Cannot open %1."},
    {IDS_RECENT_FILE_GONE, "%1\nThe file was removed from the recent file list."},
    {IDS_PLATFORM_FAILED, "The media platform could not be started."},
    {IDS_NOT_OPENABLE, "%1\nThis is neither a batch file (.tvc) nor a movie file."},
    {IDS_NOTIFY_RUN_ENDED, "Conversion finished"},
    {IDS_NOTIFY_RUN_COUNTS, "%1 converted, %2 failed, %3 interrupted"},
    {IDS_NOTIFY_OPEN_FOLDER, "Open output folder"},
    {IDS_SAVE_CHANGES, "Save changes to %1?"},
    {IDS_RECOVERY_RESTORE_SAVED,
     "The batch %1 was left open by a program that did not close. Restore it as it was then?"},
    {IDS_OUTPUT_FOLDER_CREATE, "%1. Create it?"},
    {IDS_OUTPUT_FOLDER_NOT_MADE, "Cannot create the output folder %1.\n%2"},
    {IDS_OUTPUT_NAME_EMPTY, "The output file name is empty. Type the name of the converted movie."},
    {IDS_OUTPUT_NAME_SEPARATOR,
     "The output file name %1 contains a folder separator (/). Choose the folder under Output folder."},
    {IDS_OUTPUT_NAME_DOTS, "%1 is not a file name. Type the name of the converted movie."},
    {IDS_OUTPUT_NAME_TOO_LONG, "The output file name %1 is longer than the system allows (%2 bytes)."},
    {IDS_STATUS_SOURCE_GONE, "The file %1 is not there any more"},
    {IDS_ADD_REFUSED, "These files were not added:\n%1"},
    {IDS_ADD_NOT_A_MOVIE, "%1: not a movie file"},
    {IDS_RUN_SUMMARY_FOLDER, "Output folder: %1"},
    {IDS_MENU_HELP_TOPICS, "&Help Topics\tF1"},
    {IDS_PROMPT_HELP_TOPICS, "Open the manual of the program\nHelp Topics"},
    {IDS_PROPERTIES_STORED_SIZE, "%1 x %2 (stored as %3 x %4, shown turned)"},
    {IDS_READY_EMPTY, "Add movies to convert, or drop them here."},
    {IDS_READY_NONE_CHECKED, "No movie is checked: check the movies to convert."},
    {IDS_READY_ONE, "1 movie, about %2B, ready to convert"},
    {IDS_READY_MANY, "%1 movies, about %2B, ready to convert"},
    {IDS_READY_ONE_UNSIZED, "1 movie ready to convert"},
    {IDS_READY_MANY_UNSIZED, "%1 movies ready to convert"},

    {IDC_BATCH_LIST, "Movies to convert; only checked movies take part in the conversion\nMovies to convert"},
    {IDC_SUBTITLE_FILE, "Subtitle file whose captions are burned into the picture\nSubtitle file"},
    {IDC_BROWSE_SUBTITLES, "Choose a subtitle file for the selected movie\nChoose subtitle file"},
    {IDC_OUTPUT_FOLDER, "Folder the converted movie is written to\nOutput folder"},
    {IDC_BROWSE_FOLDER, "Choose the folder for the converted movie\nChoose output folder"},
    {IDC_OUTPUT_NAME, "Name of the converted movie, without extension\nOutput file name"},
    {IDC_VIDEO_WINDOW, "Preview of the selected movie, and the picture being converted during conversion\nPreview"},
    {IDC_POSITION_SLIDER, "Position in the movie. Drag the markers below it to set start and end points\nPosition"},
    {IDC_FRAME_SIZE, "Picture size of the converted movie\nFrame size"},
    {IDC_FRAME_RATE, "Frames per second of the converted movie\nFrame rate"},
    {IDC_SPLIT_SIZE, "Split the converted movie into files of at most this size\nSplit by size"},
    {IDC_FILE_STATUS, "Movie being converted\nCurrent file"},
    {IDC_FILE_PROGRESS, "Progress of the movie being converted\nCurrent file progress"},
    {IDC_TOTAL_PROGRESS, "Progress of the whole conversion\nTotal progress"},
    {IDC_TOTAL_STATUS, "Number of the movie being converted\nTotal status"},
    {IDC_BREAK,
     "Break conversion. Unfinished output file will be stored as valid movie file.\n"
     "Break conversion. Unfinished output file will be stored as valid movie file."},
    {IDC_CONVERT, "Convert the checked movies\nConvert"},
    {IDC_PLAY_STATUS, "Position and length of the previewed movie\nPlay status"},
    {IDC_OUTPUT_FORMAT, "Kind of movie to produce\nOutput format"},
    {IDC_USE_SUBTITLES, "Burn the captions of a subtitle file into the picture\nUse subtitles"},
    {IDC_PAUSE_RUN, "Pause the conversion\nPause"},
    {IDC_SUBTITLE_SIZE, "Size of the captions\nSubtitle size"},
    {IDC_SUBTITLE_LANGUAGE, "Language of the captions to burn in\nSubtitle language"},
    {IDC_REMOVE_AFTER, "Remove each movie from the list once it is converted\nRemove after conversion"},
    {IDC_ESTIMATED_SIZE, "Estimated size of the converted movie\nEstimated file size"},
    {IDC_FILE_ELAPSED, "Time spent on the movie being converted\nElapsed time"},
    {IDC_FILE_REMAINING, "Time left for the movie being converted\nRemaining time"},
    {IDC_TOTAL_ELAPSED, "Time spent on the whole conversion\nTotal elapsed time"},
    {IDC_TOTAL_REMAINING, "Time left for the whole conversion\nTotal remaining time"},
    {IDC_RESUME_RUN, "Continue the paused conversion\nResume"},
    {IDC_SCREEN_SIZE, "How the picture fills the frame: fit with black bars, crop or stretch\nScreen size"},
    {ID_CMD_ADD_FILES, "Add movie files to the list\nAdd"},
    {ID_CMD_MOVE_UP, "Move the selected movies up the list\nMove up"},
    {ID_CMD_MOVE_DOWN, "Move the selected movies down the list\nMove down"},
    {ID_CMD_PLAY, "Play the preview of the selected movies\nPlay"},
    {ID_CMD_PAUSE_PREVIEW, "Pause the preview\nPause"},
    {ID_CMD_STOP, "Stop the preview and go back to its start\nStop"},
    {ID_CMD_REMOVE, "Remove the selected movies from the list\nRemove"},
    {ID_CMD_MODIFY_SOURCE, "Choose another source file for the selected movie\nModify source"},
    {ID_CMD_PROPERTIES, "Show the properties of the selected movie's file\nProperties"},
};

// Guards the translation; texts handed out stay valid until the next SetTranslation.
std::mutex gLock;
std::map<UINT, std::string> gTranslation;  // guarded by gLock

const std::string kEmpty;

// FindBuiltin searches the table by halves.
static_assert(std::is_sorted(std::begin(kBuiltin), std::end(kBuiltin),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }),
              "the built-in string table must be sorted by id");

const Entry* FindBuiltin(UINT id) {
  auto it = std::lower_bound(std::begin(kBuiltin), std::end(kBuiltin), id,
                             [](const Entry& e, UINT v) { return e.id < v; });
  return it != std::end(kBuiltin) && it->id == id ? it : nullptr;
}

// The built-in texts as strings, made once so references stay valid.
const std::map<UINT, std::string>& BuiltinMap() {
  static const std::map<UINT, std::string> map = [] {
    std::map<UINT, std::string> m;
    for (const Entry& e : kBuiltin) m.emplace(e.id, e.text);
    return m;
  }();
  return map;
}

}  // namespace

const std::string& BuiltinText(UINT id) {
  auto& m = BuiltinMap();
  auto it = m.find(id);
  return it == m.end() ? kEmpty : it->second;
}

const std::string& Text(UINT id) {
  {
    std::lock_guard lock(gLock);
    auto it = gTranslation.find(id);
    if (it != gTranslation.end()) return it->second;
  }
  return BuiltinText(id);
}

bool Has(UINT id) {
  std::lock_guard lock(gLock);
  return gTranslation.count(id) != 0 || FindBuiltin(id) != nullptr;
}

void SetTranslation(std::map<UINT, std::string> texts) {
  std::lock_guard lock(gLock);
  gTranslation = std::move(texts);
}

bool LoadTranslationFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::map<UINT, std::string> texts;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    char* end = nullptr;
    errno = 0;
    const unsigned long id = tab == std::string::npos ? 0 : std::strtoul(line.c_str(), &end, 10);
    if (tab == std::string::npos || end != line.c_str() + tab || errno != 0 || id > 0xFFFF) {
      if (error) *error = path + ":" + std::to_string(lineNo) + ": expected <id><TAB><text>";
      return false;
    }
    std::string text;
    for (size_t i = tab + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char c = line[++i];
        text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
      } else {
        text += line[i];
      }
    }
    texts[UINT(id)] = std::move(text);
  }
  SetTranslation(std::move(texts));
  return true;
}

bool LoadSatelliteStrings(const std::string& programPath, const std::string& locale) {
  if (programPath.size() >= 260) return false;
  std::string language = locale.substr(0, locale.find_first_of(".@"));
  if (language.empty() || language == "C" || language == "POSIX") return false;
  std::string base = programPath;
  const size_t slash = base.rfind('/');
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.erase(dot);
  std::vector<std::string> tries{language};
  if (const size_t underscore = language.find('_'); underscore != std::string::npos)
    tries.push_back(language.substr(0, underscore));
  for (const std::string& suffix : tries) {
    const std::string file = base + "." + suffix + ".strings";
    std::ifstream probe(file);
    if (probe && LoadTranslationFile(file)) return true;
  }
  return false;
}

std::string MessageLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return std::string();
}

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char n = pattern[i + 1];
      if (n >= '1' && n <= '9') {
        const size_t index = size_t(n - '1');
        if (index < args.size()) out += *(args.begin() + index);
        ++i;
        continue;
      }
      if (n == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::vector<std::string> SplitItems(const std::string& items) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= items.size()) {
    const size_t bar = items.find('|', start);
    const size_t end = bar == std::string::npos ? items.size() : bar;
    out.push_back(items.substr(start, end - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

}  // namespace tav::res
