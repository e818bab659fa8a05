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
  bool translatable = false;
};

// TR_TEXT marks a text for the translators: lupdate collects the marked texts into the .ts
// files under the context that TR_CONTEXT names (kTranslationContext), and a translation
// applies only to them. Names, patterns and parts of file names that must stay the same in
// every language (the data folder, output names, extensions, codec names, the texts that
// are parsed back into numbers) are left unmarked.
#define TR_CONTEXT(name)
#define TR_TEXT(text) text, true

struct StringTable {
  TR_CONTEXT(StringTable)
  static const Entry kBuiltin[];
};

// Sorted by id.
constexpr Entry StringTable::kBuiltin[] = {
    {IDR_MAINFRAME,
     TR_TEXT("TavrionConverter\n\nTavrionConverte\nTavrionConverter Files (*.tvc)\n.tvc\nTavrionConverter.Document\n"
             "TavrionConverter.Document")},
    {IDS_COLUMN_SOURCE, TR_TEXT("Source file")},
    {IDS_COLUMN_STATUS, TR_TEXT("Status")},
    {IDS_COLUMN_DURATION, TR_TEXT("Duration")},
    {IDS_COLUMN_FRAMESIZE, TR_TEXT("Frame Size")},
    {IDS_COLUMN_FILESIZE, TR_TEXT("File Size")},
    {IDS_COMPANY_FOLDER, "Merolan"},

    {IDS_SUBTITLE_EXT, ".smi"},
    {IDS_OUTPUT_EXT, ".qvf"},
    {IDS_OUTPUT_NAME, "%1[QVF]-%2%3"},
    {IDS_OUTPUT_NAME_NUMBERED, "%1%2[%4]%3"},
    {IDS_OUTPUT_NAME_PART, "%1%2%6%3"},
    {IDS_DEFAULT_LANGUAGE, "en-us"},
    {IDS_MOVIE_EXTENSIONS,
     ".avi.mpg.mpeg.wmv.asf.mov.qt.3gp.3gpp.3g2.3gp2.mp4.mpg4.m4v.mkv.webm.mts.m2ts.ts.vob.flv.qvf"},

    {IDS_STATUS_PLAYING, TR_TEXT("Playing")},
    {IDS_STATUS_PAUSED, TR_TEXT("Paused")},
    {IDS_STATUS_READY, TR_TEXT("Ready")},
    {IDS_STATUS_CONVERTING, TR_TEXT("Converting")},
    {IDS_STATUS_CONVERTED, TR_TEXT("Converted")},
    {IDS_STATUS_INTERRUPTED, TR_TEXT("Interrupted")},
    {IDS_STATUS_INTERRUPTED_AT, TR_TEXT("Interrupted at %1")},
    {IDS_STATUS_ERROR, TR_TEXT("Error")},
    {IDS_STATUS_ERROR_TEXT, TR_TEXT("Error: %1")},
    {IDS_STATUS_BAD_SUBTITLES, TR_TEXT("Invalid file of subtitles")},
    {IDS_STATUS_WITH_CODE, "%s (0x%08X)"},
    {IDS_STATUS_CANNOT_READ, TR_TEXT("Cannot read")},
    {IDS_STATUS_NO_VIDEO_CODEC, TR_TEXT("Cannot decode %1 video: this program has no decoder for it")},
    {IDS_STATUS_NO_AUDIO_CODEC, TR_TEXT("Cannot decode %1 audio: this program has no decoder for it")},
    {IDS_STATUS_NO_MEDIA_CODEC, TR_TEXT("Cannot decode %1 media: this program has no decoder for it")},
    {IDS_CODEC_MPEG2, "MPEG 2"},
    {IDS_CODEC_DTS, "DTS"},
    {IDS_CODEC_AC3, "AC3"},
    {IDS_CODEC_PCM, "PCM"},
    {IDS_TIME_UNKNOWN, "--:--"},
    {IDS_STATUS_SUBTITLES_READ_AS, TR_TEXT("%1 (subtitles read as %2)")},
    {IDS_STATUS_NO_VIDEO, TR_TEXT("The file has no video to convert.")},
    {IDS_STATUS_COVER_ONLY, TR_TEXT("The file's only picture is a still cover image; there is no video to convert.")},
    {IDS_TIP_SUBTITLES, TR_TEXT("Subtitles: %1")},
    {IDS_TIP_SUBTITLES_ENCODING, TR_TEXT("Subtitles: %1 (%2)")},

    {IDS_FORMAT_ITEMS, TR_TEXT("Video for Merolan camera")},
    {IDS_FRAMESIZE_ITEMS, "320 x 240|640 x 480"},
    {IDS_FRAMERATE_ITEMS, "15 fps|30 fps"},
    {IDS_SCREENFIT_ITEMS, TR_TEXT("Fit|Crop|Stretch")},
    {IDS_SPLIT_ITEMS, TR_TEXT("unlimited|32 MB|64 MB|128 MB|256 MB|512 MB")},
    {IDS_SIZE_SUFFIXES, "KMGT"},
    {IDS_VIDEO_FILTER,
     TR_TEXT("Video Files|*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.mov;*.qt;*.3gp;*.3gpp;*.3g2;*.3gp2;*.mp4;*.mpg4;*.m4v;*.mkv;"
             "*.webm;*.mts;*.m2ts;*.ts;*.vob;*.flv;*.qvf|"
             "All Files|*.*||")},
    {IDS_SUBTITLE_FILTER,
     TR_TEXT("SAMI, SubRip, WebVTT and SSA/ASS subtitles|*.smi;*.sami;*.srt;*.vtt;*.ssa;*.ass|All files|*.*||")},
    {IDS_SUBTITLE_HINT, TR_TEXT("Cannot find matching subtitle file")},
    {IDS_SUBSIZE_BIGGER, TR_TEXT("Bigger")},
    {IDS_SUBSIZE_SMALLER, TR_TEXT("Smaller")},
    {IDS_SUBSIZE_STANDARD, TR_TEXT("Standard")},
    {IDS_ESTIMATED_SIZE, TR_TEXT("Estimated file size %1B")},
    {IDS_CURRENT_FILE, TR_TEXT("Current file: %1")},
    {IDS_ELAPSED, TR_TEXT("Elapsed: %1")},
    {IDS_REMAINED, TR_TEXT("Remaining: %1")},
    {IDS_CONVERTING_FILE, TR_TEXT("Converting file #%1 from %2")},
    {IDS_PLAY_STATUS, TR_TEXT("current %1 / total %2")},
    {IDS_BUTTON_CONVERT, TR_TEXT("&Convert")},
    {IDS_BUTTON_PAUSE, TR_TEXT("&Pause")},
    {IDS_BUTTON_RESUME, TR_TEXT("&Resume")},
    {IDS_BUTTON_BREAK, TR_TEXT("&Break")},
    {IDS_MARKER_START, TR_TEXT("Set movie start point\nMove to set start point")},
    {IDS_MARKER_END, TR_TEXT("Set movie end point\nMove to set end point")},
    {IDS_IDLE_MESSAGE, TR_TEXT("For Help, press F1")},
    {IDS_PREVIEW_FIT, TR_TEXT("&Fit to window")},
    {IDS_PREVIEW_ACTUAL_SIZE, TR_TEXT("&Actual size")},
    {IDS_PREVIEW_CROPPED, TR_TEXT("actual size, drag to move")},
    {IDS_PREVIEW_CROPPED_TIP,
     TR_TEXT("Shown at actual size: drag to move the picture, double-click to fit it to the window")},
    {IDS_PREVIEW_FITTED_TIP, TR_TEXT("Fitted to the window: double-click to show it at actual size")},
    {IDS_SIZE_UNITS, TR_TEXT("bytes|KB|MB|GB|TB")},

    {IDS_LABEL_REMOVE_AFTER, TR_TEXT("Remove &after conversion")},
    {IDS_LABEL_ADD_SUBTITLES, TR_TEXT("Add subtitles")},
    {IDS_LABEL_USE_SUBTITLES, TR_TEXT("&Use subtitles from file")},
    {IDS_LABEL_SUBTITLE_FILE, TR_TEXT("Subti&tles file")},
    {IDS_LABEL_BROWSE_SUBTITLES, TR_TEXT("Brows&e...")},
    {IDS_LABEL_LANGUAGE, TR_TEXT("&Language")},
    {IDS_LABEL_SUBTITLE_SIZE, TR_TEXT("Si&ze")},
    {IDS_LABEL_PRODUCE, TR_TEXT("Produce")},
    {IDS_LABEL_OUTPUT_FOLDER, TR_TEXT("Output fol&der")},
    {IDS_LABEL_BROWSE_FOLDER, TR_TEXT("Bro&wse...")},
    {IDS_LABEL_OUTPUT_NAME, TR_TEXT("Output file &name")},
    {IDS_LABEL_PMP_NOTICE,
     TR_TEXT("To play the movies on the camera, copy them into the PMP folder at the top of its memory card.")},
    {IDS_LABEL_SETTINGS, TR_TEXT("Settings")},
    {IDS_LABEL_OUTPUT_FORMAT, TR_TEXT("&Output format")},
    {IDS_LABEL_FRAME_SIZE, TR_TEXT("Frame &size")},
    {IDS_LABEL_FRAME_RATE, TR_TEXT("Fra&me rate")},
    {IDS_LABEL_SCREEN_SIZE, TR_TEXT("Screen s&ize")},
    {IDS_LABEL_SPLIT, TR_TEXT("Split b&y size")},
    {IDS_LABEL_STATUS, TR_TEXT("Status")},
    {IDS_LABEL_TIME_NOTICE, TR_TEXT("The remaining time is an estimate: it changes with the load on the computer.")},
    {IDS_MENU_ADD, TR_TEXT("A&dd...")},
    {IDS_MENU_ADD_FILE, TR_TEXT("&Add file...")},
    {IDS_MENU_REMOVE, TR_TEXT("&Remove")},
    {IDS_MENU_PROPERTIES, TR_TEXT("&Properties...")},
    {IDS_MENU_PLAY, TR_TEXT("P&lay")},
    {IDS_MENU_DURATION, TR_TEXT("&Duration")},
    {IDS_MENU_FRAME_SIZE, TR_TEXT("&Frame size")},
    {IDS_MENU_FILE_SIZE, TR_TEXT("File &size")},
    {IDS_MENU_HOME_PAGE, TR_TEXT("&Merolan Camera Home")},
    {IDS_NOTICE_TITLE, TR_TEXT("Notice")},
    {IDS_NOTICE_TEXT1, TR_TEXT("Tavrion Converter makes movies for the movie player (PMP mode) of Merolan cameras.")},
    {IDS_NOTICE_TEXT2,
     TR_TEXT("It reads the common movie formats itself (AVI, MPEG, MP4, QuickTime, 3GP, WMV, Matroska, WebM and "
             "more), so nothing else needs to be installed.\n\n"
             "To watch a converted movie on the camera, copy its .qvf file into the PMP folder at the top of the "
             "camera's memory card (make the folder if the card has none).")},
    {IDS_NOTICE_CLOSE, TR_TEXT("Close")},
    {IDS_NOTICE_DONT_SHOW, TR_TEXT("Don't show this message again")},
    {IDS_MENU_MOVE_UP, TR_TEXT("Move &up")},
    {IDS_MENU_MOVE_DOWN, TR_TEXT("Move do&wn")},
    {IDS_MENU_MODIFY_SOURCE, TR_TEXT("&Modify source...")},
    {IDS_MENU_ADD_FOLDER, TR_TEXT("Add &folder...")},

    {IDS_BATCH_OPEN_FAILED, TR_TEXT("Cannot open the batch file %1.\n%2")},
    {IDS_BATCH_SAVE_FAILED, TR_TEXT("Cannot save the batch file %1.\n%2")},
    {IDS_ARCHIVE_END_OF_FILE, TR_TEXT("The file ends unexpectedly (at byte %1).")},
    {IDS_ARCHIVE_BAD_FORMAT, TR_TEXT("The file is not a valid batch file (unexpected data at byte %1).")},
    {IDS_ARCHIVE_BAD_CLASS, TR_TEXT("The file holds an object of an unknown kind (at byte %1).")},
    {IDS_ARCHIVE_BAD_INDEX, TR_TEXT("The file refers to an object that does not exist (at byte %1).")},
    {IDS_FILE_CREATE_FAILED, TR_TEXT("Cannot create the file %1.\n%2")},
    {IDS_FILE_READ_FAILED, TR_TEXT("Cannot read the file %1.\n%2")},
    {IDS_RECOVERY_RESTORE, TR_TEXT("The last batch was not saved. Restore it?")},
    {IDS_RECOVERY_DAMAGED,
     TR_TEXT("The last batch could not be restored: its recovery copy is damaged and was kept as %1.\n%2")},
    {IDS_RESUME_QUESTION,
     TR_TEXT("Some movies were interrupted. Continue them where they stopped?\n\n"
             "Yes writes the rest of each into its next numbered part; No converts them again from the start.")},
    {IDS_OUTPUT_FOLDER_MISSING, TR_TEXT("The output folder %1 does not exist")},
    {IDS_OUTPUT_FOLDER_READ_ONLY, TR_TEXT("The output folder %1 is read-only")},
    {IDS_OUTPUT_FOLDER_NOT_FOLDER, TR_TEXT("The output folder %1 is not a folder")},
    {IDS_OUTPUT_FOLDER_FAILED, TR_TEXT("The output folder %1 takes no new file: %2")},

    {IDS_APP_TITLE, TR_TEXT("Tavrion Converter")},
    {IDS_UNTITLED, TR_TEXT("Untitled")},
    {IDS_MENU_FILE, TR_TEXT("&File")},
    {IDS_MENU_NEW, TR_TEXT("&New\tCtrl+N")},
    {IDS_MENU_OPEN, TR_TEXT("&Open...\tCtrl+O")},
    {IDS_MENU_SAVE, TR_TEXT("&Save\tCtrl+S")},
    {IDS_MENU_SAVE_AS, TR_TEXT("Save &As...")},
    {IDS_MENU_RECENT_FILE, TR_TEXT("Recent File")},
    {IDS_MENU_EXIT, TR_TEXT("E&xit")},
    {IDS_MENU_VIEW, TR_TEXT("&View")},
    {IDS_MENU_TOOLBAR, TR_TEXT("&Toolbar")},
    {IDS_MENU_STATUS_BAR, TR_TEXT("&Status Bar")},
    {IDS_MENU_HELP, TR_TEXT("&Help")},
    {IDS_MENU_ABOUT, TR_TEXT("&About Tavrion Converter...")},
    {IDS_PROMPT_NEW, TR_TEXT("Create a new batch\nNew")},
    {IDS_PROMPT_OPEN, TR_TEXT("Open an existing batch\nOpen")},
    {IDS_PROMPT_SAVE, TR_TEXT("Save the batch\nSave")},
    {IDS_PROMPT_SAVE_AS, TR_TEXT("Save the batch with a new name\nSave As")},
    {IDS_PROMPT_RECENT_FILE, TR_TEXT("Open this file\nOpen")},
    {IDS_PROMPT_EXIT, TR_TEXT("Quit the application\nExit")},
    {IDS_PROMPT_TOOLBAR, TR_TEXT("Show or hide the toolbar\nToggle ToolBar")},
    {IDS_PROMPT_STATUS_BAR, TR_TEXT("Show or hide the status bar\nToggle StatusBar")},
    {IDS_PROMPT_ABOUT, TR_TEXT("Display program information, version number and copyright\nAbout")},
    {IDS_PROMPT_HOME_PAGE, TR_TEXT("Visit the Merolan camera home page\nHome page")},
    {IDS_HOME_PAGE_URL, "https://www.merolan.com/"},
    {IDS_ABOUT_TITLE, TR_TEXT("About Tavrion Converter")},
    {IDS_ABOUT_VERSION, TR_TEXT("Tavrion Converter Version %1")},
    {IDS_ABOUT_COPYRIGHT, TR_TEXT("Converts movies for the PMP mode of Merolan cameras.")},
    {IDS_BUTTON_OK, TR_TEXT("OK")},
    {IDS_ALL_FILES_FILTER, TR_TEXT("All Files (*.*)")},
    {IDS_FILE_NOT_FOUND, TR_TEXT("%1\nFile not found.")},
    {IDS_NO_DISPLAY,
     TR_TEXT("%1: cannot open a display (%2). Start it from a desktop session, or set DISPLAY or WAYLAND_DISPLAY.")},
    {IDS_HOME_PAGE_FAILED, TR_TEXT("Cannot open %1.")},
    {IDS_RECENT_FILE_GONE, TR_TEXT("%1\nThe file was removed from the recent file list.")},
    {IDS_PLATFORM_FAILED, TR_TEXT("The media platform could not be started.")},
    {IDS_NOT_OPENABLE, TR_TEXT("%1\nThis is neither a batch file (.tvc) nor a movie file.")},
    {IDS_NOTIFY_RUN_ENDED, TR_TEXT("Conversion finished")},
    {IDS_NOTIFY_RUN_COUNTS, TR_TEXT("%1 converted, %2 failed, %3 interrupted")},
    {IDS_NOTIFY_OPEN_FOLDER, TR_TEXT("Open output folder")},
    {IDS_SAVE_CHANGES, TR_TEXT("Save changes to %1?")},
    {IDS_RECOVERY_RESTORE_SAVED,
     TR_TEXT("The batch %1 was left open by a program that did not close. Restore it as it was then?")},
    {IDS_OUTPUT_FOLDER_CREATE, TR_TEXT("%1. Create it?")},
    {IDS_OUTPUT_FOLDER_NOT_MADE, TR_TEXT("Cannot create the output folder %1.\n%2")},
    {IDS_OUTPUT_NAME_EMPTY, TR_TEXT("The output file name is empty. Type the name of the converted movie.")},
    {IDS_OUTPUT_NAME_SEPARATOR,
     TR_TEXT("The output file name %1 contains a folder separator (/). Choose the folder under Output folder.")},
    {IDS_OUTPUT_NAME_DOTS, TR_TEXT("%1 is not a file name. Type the name of the converted movie.")},
    {IDS_OUTPUT_NAME_TOO_LONG, TR_TEXT("The output file name %1 is longer than the system allows (%2 bytes).")},
    {IDS_STATUS_SOURCE_GONE, TR_TEXT("The file %1 is not there any more")},
    {IDS_ADD_REFUSED, TR_TEXT("These files were not added:\n%1")},
    {IDS_ADD_NOT_A_MOVIE, TR_TEXT("%1: not a movie file")},
    {IDS_RUN_SUMMARY_FOLDER, TR_TEXT("Output folder: %1")},
    {IDS_MENU_HELP_TOPICS, TR_TEXT("&Contents\tF1")},
    {IDS_PROMPT_HELP_TOPICS, TR_TEXT("Open the manual of the program\nContents")},
    {IDS_PROPERTIES_STORED_SIZE, TR_TEXT("%1 x %2 (stored as %3 x %4, shown turned)")},
    {IDS_MENU_SETTINGS, TR_TEXT("Settin&gs")},
    {IDS_MENU_PREFERENCES, TR_TEXT("&Preferences...")},
    {IDS_PROMPT_PREFERENCES,
     TR_TEXT("Choose how many movies convert at once and where new movies are written\nPreferences")},
    {IDS_PREFS_TITLE, TR_TEXT("Preferences")},
    {IDS_PREFS_SIMULTANEOUS, TR_TEXT("&Simultaneous conversions:")},
    {IDS_PREFS_SIMULTANEOUS_NOTE,
     TR_TEXT("Up to %1, the processor cores of this computer. With more than one, a batch is done sooner, "
             "and the preview does not show the conversion.")},
    {IDS_PREFS_OUTPUT_GROUP, TR_TEXT("Output folder of new movies")},
    {IDS_PREFS_BESIDE_MOVIE, TR_TEXT("&Beside each movie")},
    {IDS_PREFS_IN_FOLDER, TR_TEXT("In this &folder:")},
    {IDS_PREFS_BROWSE, TR_TEXT("Bro&wse...")},
    {IDS_PREFS_FOLDER_EMPTY, TR_TEXT("Choose the folder for new movies, or choose Beside each movie.")},
    {IDS_MIXED_VALUE, TR_TEXT("(differs)")},
    {IDS_BREAK_QUESTION, TR_TEXT("Break the conversion? The unfinished output file is kept as a valid movie file.")},
    {IDS_READY_EMPTY, TR_TEXT("Add movies to convert, or drop them here.")},
    {IDS_READY_NONE_CHECKED, TR_TEXT("No movie is checked: check the movies to convert.")},
    {IDS_READY_ONE, TR_TEXT("1 movie, about %2, ready to convert")},
    {IDS_READY_MANY, TR_TEXT("%1 movies, about %2, ready to convert")},
    {IDS_READY_ONE_UNSIZED, TR_TEXT("1 movie ready to convert")},
    {IDS_READY_MANY_UNSIZED, TR_TEXT("%1 movies ready to convert")},

    {IDC_BATCH_LIST, TR_TEXT("Movies to convert; only checked movies take part in the conversion\nMovies to convert")},
    {IDC_SUBTITLE_FILE, TR_TEXT("Subtitle file whose captions are burned into the picture\nSubtitle file")},
    {IDC_BROWSE_SUBTITLES, TR_TEXT("Choose a subtitle file for the selected movie\nChoose subtitle file")},
    {IDC_OUTPUT_FOLDER, TR_TEXT("Folder the converted movie is written to\nOutput folder")},
    {IDC_BROWSE_FOLDER, TR_TEXT("Choose the folder for the converted movie\nChoose output folder")},
    {IDC_OUTPUT_NAME, TR_TEXT("Name of the converted movie, without extension\nOutput file name")},
    {IDC_VIDEO_WINDOW,
     TR_TEXT("Preview of the selected movie, and the picture being converted during conversion\nPreview")},
    {IDC_POSITION_SLIDER,
     TR_TEXT("Position in the movie. Drag the markers below it to set start and end points\nPosition")},
    {IDC_FRAME_SIZE, TR_TEXT("Picture size of the converted movie\nFrame size")},
    {IDC_FRAME_RATE, TR_TEXT("Frames per second of the converted movie\nFrame rate")},
    {IDC_SPLIT_SIZE, TR_TEXT("Split the converted movie into files of at most this size\nSplit by size")},
    {IDC_FILE_STATUS, TR_TEXT("Movie being converted\nCurrent file")},
    {IDC_FILE_PROGRESS, TR_TEXT("Progress of the movie being converted\nCurrent file progress")},
    {IDC_TOTAL_PROGRESS, TR_TEXT("Progress of the whole conversion\nTotal progress")},
    {IDC_TOTAL_STATUS, TR_TEXT("Number of the movie being converted\nTotal status")},
    {IDC_BREAK, TR_TEXT("Break off the conversion; the unfinished output is kept as a playable movie\n"
                        "Break off the conversion; the unfinished output is kept as a playable movie")},
    {IDC_CONVERT, TR_TEXT("Convert the checked movies\nConvert")},
    {IDC_PLAY_STATUS, TR_TEXT("Position and length of the previewed movie\nPlay status")},
    {IDC_OUTPUT_FORMAT, TR_TEXT("Kind of movie to produce\nOutput format")},
    {IDC_USE_SUBTITLES, TR_TEXT("Burn the captions of a subtitle file into the picture\nUse subtitles")},
    {IDC_PAUSE_RUN, TR_TEXT("Pause the conversion\nPause")},
    {IDC_SUBTITLE_SIZE, TR_TEXT("Size of the captions\nSubtitle size")},
    {IDC_SUBTITLE_LANGUAGE, TR_TEXT("Language of the captions to burn in\nSubtitle language")},
    {IDC_REMOVE_AFTER, TR_TEXT("Remove each movie from the list once it is converted\nRemove after conversion")},
    {IDC_ESTIMATED_SIZE, TR_TEXT("Estimated size of the converted movie\nEstimated file size")},
    {IDC_FILE_ELAPSED, TR_TEXT("Time spent on the movie being converted\nElapsed time")},
    {IDC_FILE_REMAINING, TR_TEXT("Time left for the movie being converted\nRemaining time")},
    {IDC_TOTAL_ELAPSED, TR_TEXT("Time spent on the whole conversion\nTotal elapsed time")},
    {IDC_TOTAL_REMAINING, TR_TEXT("Time left for the whole conversion\nTotal remaining time")},
    {IDC_RESUME_RUN, TR_TEXT("Continue the paused conversion\nResume")},
    {IDC_SCREEN_SIZE, TR_TEXT("How the picture fills the frame: fit with black bars, crop or stretch\nScreen size")},
    {ID_CMD_ADD_FILES, TR_TEXT("Add movie files to the list\nAdd")},
    {ID_CMD_MOVE_UP, TR_TEXT("Move the selected movies up the list\nMove up")},
    {ID_CMD_MOVE_DOWN, TR_TEXT("Move the selected movies down the list\nMove down")},
    {ID_CMD_PLAY, TR_TEXT("Play the preview of the selected movies\nPlay")},
    {ID_CMD_PAUSE_PREVIEW, TR_TEXT("Pause the preview\nPause")},
    {ID_CMD_STOP, TR_TEXT("Stop the preview and go back to its start\nStop")},
    {ID_CMD_REMOVE, TR_TEXT("Remove the selected movies from the list\nRemove")},
    {ID_CMD_MODIFY_SOURCE, TR_TEXT("Choose another source file for the selected movie\nModify source")},
    {ID_CMD_PROPERTIES, TR_TEXT("Show the properties of the selected movie's file\nProperties")},
};
constexpr const auto& kBuiltin = StringTable::kBuiltin;

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

std::vector<UINT> Ids() {
  std::vector<UINT> ids;
  ids.reserve(std::size(kBuiltin));
  for (const Entry& e : kBuiltin) ids.push_back(e.id);
  return ids;
}

bool Translatable(UINT id) {
  const Entry* e = FindBuiltin(id);
  return e != nullptr && e->translatable;
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
