// The converter's string table: every text the user sees, by numeric resource id, in one
// place that the engine, the command line and the GUI share. A translation replaces
// texts by id (SetTranslation / LoadTranslationFile); ids without a translation keep the
// built-in English text.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "media/contract/wintypes.h"

namespace tav::res {

// Ids below 1000 are plain texts. Ids of dialog controls (1000 and up, 32768 and up) hold
// "status-bar text\ntooltip" for that control.
enum StringId : UINT {
  // Document template and application.
  IDR_MAINFRAME = 128,  // "TavrionConverter\n\nTavrionConverte\n..." (7 fields)
  IDS_COLUMN_SOURCE = 129,  // list columns: 129 + logical index
  IDS_COLUMN_STATUS = 130,
  IDS_COLUMN_DURATION = 131,
  IDS_COLUMN_FRAMESIZE = 132,
  IDS_COLUMN_FILESIZE = 133,
  IDS_COMPANY_FOLDER = 141,  // "Merolan": the per-user data folder's parent

  // Batch entries (names and defaults).
  IDS_SUBTITLE_EXT = 200,    // ".smi"
  IDS_OUTPUT_EXT,            // ".qvf"
  IDS_OUTPUT_NAME,           // "%1[QVF]-%2%3"
  IDS_OUTPUT_NAME_NUMBERED,  // "%1%2[%4]%3"
  IDS_OUTPUT_NAME_PART,      // "%1%2%6%3"
  IDS_DEFAULT_LANGUAGE,      // "en-us"
  IDS_MOVIE_EXTENSIONS,      // ".avi.mpg.mpeg..."

  // Status texts of an entry.
  IDS_STATUS_PLAYING = 220,
  IDS_STATUS_PAUSED,
  IDS_STATUS_READY,
  IDS_STATUS_CONVERTING,
  IDS_STATUS_CONVERTED,
  IDS_STATUS_INTERRUPTED,
  IDS_STATUS_INTERRUPTED_AT,  // "Interrupted at %1"
  IDS_STATUS_ERROR,
  IDS_STATUS_ERROR_TEXT,      // "Error: %1"
  IDS_STATUS_BAD_SUBTITLES,   // "Invalid file of subtitles"
  IDS_STATUS_WITH_CODE,       // "%s (0x%08X)"
  IDS_STATUS_CANNOT_READ,     // "Cannot read"
  IDS_STATUS_NO_VIDEO_CODEC,  // "Cannot decode %1 video: this program has no ..."
  IDS_STATUS_NO_AUDIO_CODEC,  // "Cannot decode %1 audio: this program has no ..."
  IDS_STATUS_NO_MEDIA_CODEC,  // "Cannot decode %1 media: this program has no ..."
  IDS_CODEC_MPEG2,            // "MPEG 2"
  IDS_CODEC_DTS,              // "DTS"
  IDS_CODEC_AC3,              // "AC3"
  IDS_CODEC_PCM,              // "PCM"
  IDS_TIME_UNKNOWN,           // "--:--"
  IDS_STATUS_SUBTITLES_READ_AS,  // "%1 (subtitles read as %2)"
  IDS_STATUS_NO_VIDEO,        // "The file has no video to convert."
  IDS_STATUS_COVER_ONLY,      // "The file's only picture is a still cover image; ..."
  IDS_TIP_SUBTITLES,             // "Subtitles: %1"
  IDS_TIP_SUBTITLES_ENCODING,    // "Subtitles: %1 (%2)"

  // Main form.
  IDS_FORMAT_ITEMS = 300,  // "Video for Merolan camera"
  IDS_FRAMESIZE_ITEMS,     // "320 x 240|640 x 480"
  IDS_FRAMERATE_ITEMS,     // "15 fps|30 fps"
  IDS_SCREENFIT_ITEMS,     // "Fit|Crop|Stretch"
  IDS_SPLIT_ITEMS,         // "unlimited|32 MB|64 MB|...|512 MB"
  IDS_SIZE_SUFFIXES,       // "KMGT"
  IDS_VIDEO_FILTER,        // "Video Files|*.avi;...|All Files|*.*||"
  IDS_SUBTITLE_FILTER,     // "SAMI, SubRip, ... subtitles|*.smi;...|All files|*.*||"
  IDS_SUBTITLE_HINT,       // "Cannot find matching subtitle file"
  IDS_SUBSIZE_BIGGER,
  IDS_SUBSIZE_SMALLER,
  IDS_SUBSIZE_STANDARD,
  IDS_ESTIMATED_SIZE,      // "Estimated file size %1B"
  IDS_CURRENT_FILE,        // "Current file: %1"
  IDS_ELAPSED,             // "Elapsed: %1"
  IDS_REMAINED,            // "Remaining: %1"
  IDS_CONVERTING_FILE,     // "Converting file #%1 from %2"
  IDS_PLAY_STATUS,         // "current %1 / total %2"
  IDS_BUTTON_CONVERT,      // "&Convert"
  IDS_BUTTON_PAUSE,        // "&Pause"
  IDS_BUTTON_RESUME,       // "&Resume"
  IDS_BUTTON_BREAK,        // "&Break"
  IDS_MARKER_START,        // "Set movie start point\nMove to set start point"
  IDS_MARKER_END,          // "Set movie end point\nMove to set end point"
  IDS_IDLE_MESSAGE,        // "For Help, press F1"
  IDS_PREVIEW_FIT,         // "&Fit to window" (the preview's context menu)
  IDS_PREVIEW_ACTUAL_SIZE, // "&Actual size"
  IDS_PREVIEW_CROPPED,     // "actual size, drag to move" (after the play status)
  IDS_PREVIEW_CROPPED_TIP, // how to move or fit a picture shown at actual size
  IDS_PREVIEW_FITTED_TIP,  // how to see a fitted picture at actual size
  IDS_SIZE_UNITS,          // "bytes|KB|MB|GB|TB": units of file sizes, steps of 1024

  // Labels of the main form, menus and the notice box.
  IDS_LABEL_REMOVE_AFTER = 400,
  IDS_LABEL_ADD_SUBTITLES,
  IDS_LABEL_USE_SUBTITLES,
  IDS_LABEL_SUBTITLE_FILE,
  IDS_LABEL_BROWSE_SUBTITLES,
  IDS_LABEL_LANGUAGE,
  IDS_LABEL_SUBTITLE_SIZE,
  IDS_LABEL_PRODUCE,
  IDS_LABEL_OUTPUT_FOLDER,
  IDS_LABEL_BROWSE_FOLDER,
  IDS_LABEL_OUTPUT_NAME,
  IDS_LABEL_PMP_NOTICE,
  IDS_LABEL_SETTINGS,
  IDS_LABEL_OUTPUT_FORMAT,
  IDS_LABEL_FRAME_SIZE,
  IDS_LABEL_FRAME_RATE,
  IDS_LABEL_SCREEN_SIZE,
  IDS_LABEL_SPLIT,
  IDS_LABEL_STATUS,
  IDS_LABEL_TIME_NOTICE,
  IDS_MENU_ADD,            // "A&dd..."
  IDS_MENU_ADD_FILE,       // "&Add file..."
  IDS_MENU_REMOVE,         // "&Remove"
  IDS_MENU_PROPERTIES,     // "&Properties..."
  IDS_MENU_PLAY,           // "P&lay"
  IDS_MENU_DURATION,       // "&Duration"
  IDS_MENU_FRAME_SIZE,     // "&Frame size"
  IDS_MENU_FILE_SIZE,      // "File &size"
  IDS_MENU_HOME_PAGE,      // "&Merolan Camera Home"
  IDS_NOTICE_TITLE,        // "Notice"
  IDS_NOTICE_TEXT1,
  IDS_NOTICE_TEXT2,
  IDS_NOTICE_CLOSE,        // "Close"
  IDS_NOTICE_DONT_SHOW,    // "Don't show this message again"
  IDS_MENU_MOVE_UP,        // "Move &up"
  IDS_MENU_MOVE_DOWN,      // "Move do&wn"
  IDS_MENU_MODIFY_SOURCE,  // "&Modify source..."
  IDS_MENU_ADD_FOLDER,     // "Add &folder..."

  // Batch files and files of entries.
  IDS_BATCH_OPEN_FAILED = 600,  // "Cannot open the batch file %1.\n%2"
  IDS_BATCH_SAVE_FAILED,        // "Cannot save the batch file %1.\n%2"
  IDS_ARCHIVE_END_OF_FILE,
  IDS_ARCHIVE_BAD_FORMAT,
  IDS_ARCHIVE_BAD_CLASS,
  IDS_ARCHIVE_BAD_INDEX,
  IDS_FILE_CREATE_FAILED,       // "Cannot create the file %1.\n%2"
  IDS_FILE_READ_FAILED,         // "Cannot read the file %1.\n%2"
  IDS_RECOVERY_RESTORE,         // "The last batch was not saved. Restore it?"
  IDS_RECOVERY_DAMAGED,         // "The recovery copy ... kept as %1 ... %2"
  IDS_RESUME_QUESTION,          // continue the interrupted entries?
  IDS_OUTPUT_FOLDER_MISSING,    // "The output folder %1 does not exist"
  IDS_OUTPUT_FOLDER_READ_ONLY,  // "The output folder %1 is read-only"
  IDS_OUTPUT_FOLDER_NOT_FOLDER, // "The output folder %1 is not a folder"
  IDS_OUTPUT_FOLDER_FAILED,     // "The output folder %1 takes no new file: %2"

  // Main frame, application and desktop program.
  IDS_APP_TITLE = 700,     // "Tavrion Converter"
  IDS_UNTITLED,            // "Untitled"
  IDS_MENU_FILE,           // "&File"
  IDS_MENU_NEW,            // "&New\tCtrl+N"
  IDS_MENU_OPEN,           // "&Open...\tCtrl+O"
  IDS_MENU_SAVE,           // "&Save\tCtrl+S"
  IDS_MENU_SAVE_AS,        // "Save &As..."
  IDS_MENU_RECENT_FILE,    // "Recent File"
  IDS_MENU_EXIT,           // "E&xit"
  IDS_MENU_VIEW,           // "&View"
  IDS_MENU_TOOLBAR,        // "&Toolbar"
  IDS_MENU_STATUS_BAR,     // "&Status Bar"
  IDS_MENU_HELP,           // "&Help"
  IDS_MENU_ABOUT,          // "&About Tavrion Converter..."
  IDS_PROMPT_NEW,          // status-bar text and tooltip of each frame command
  IDS_PROMPT_OPEN,
  IDS_PROMPT_SAVE,
  IDS_PROMPT_SAVE_AS,
  IDS_PROMPT_RECENT_FILE,
  IDS_PROMPT_EXIT,
  IDS_PROMPT_TOOLBAR,
  IDS_PROMPT_STATUS_BAR,
  IDS_PROMPT_ABOUT,
  IDS_PROMPT_HOME_PAGE,
  IDS_HOME_PAGE_URL,       // the address the home-page command opens
  IDS_ABOUT_TITLE,         // "About Tavrion Converter"
  IDS_ABOUT_VERSION,       // "Tavrion Converter Version %1"
  IDS_ABOUT_COPYRIGHT,
  IDS_BUTTON_OK,           // "OK"
  IDS_ALL_FILES_FILTER,    // "All Files (*.*)"
  IDS_FILE_NOT_FOUND,      // "%1\nFile not found."
  IDS_NO_DISPLAY,          // "%1: cannot open a display (%2)..."
  IDS_HOME_PAGE_FAILED,    // "Cannot open %1."
  IDS_RECENT_FILE_GONE,    // "%1\nThe file was removed from the recent file list."
  IDS_PLATFORM_FAILED,     // "The media platform could not be started."
  IDS_NOT_OPENABLE,        // "%1\nThis is neither a batch file (.tvc) nor a movie file."
  IDS_NOTIFY_RUN_ENDED,    // "Conversion finished"
  IDS_NOTIFY_RUN_COUNTS,   // "%1 converted, %2 failed, %3 interrupted"
  IDS_NOTIFY_OPEN_FOLDER,  // "Open output folder"

  // The desktop program's questions about unsaved work and its checks of what is typed.
  IDS_SAVE_CHANGES = 760,        // "Save changes to %1?"
  IDS_RECOVERY_RESTORE_SAVED,    // "The batch %1 was left open by a program that did not close. ..."
  IDS_OUTPUT_FOLDER_CREATE,      // "%1. Create it?"
  IDS_OUTPUT_FOLDER_NOT_MADE,    // "Cannot create the output folder %1.\n%2"
  IDS_OUTPUT_NAME_EMPTY,         // "The output file name is empty."
  IDS_OUTPUT_NAME_SEPARATOR,     // "The output file name %1 contains a folder separator (/) ..."
  IDS_OUTPUT_NAME_DOTS,          // "%1 is not a file name."
  IDS_OUTPUT_NAME_TOO_LONG,      // "The output file name %1 is longer than the system allows ..."
  IDS_STATUS_SOURCE_GONE,        // "The file %1 is not there any more"
  IDS_ADD_REFUSED,               // "These files were not added:\n%1"
  IDS_ADD_NOT_A_MOVIE,           // "%1: not a movie file"
  IDS_RUN_SUMMARY_FOLDER,        // "Output folder: %1"
  IDS_MENU_HELP_TOPICS,          // "&Contents\tF1"
  IDS_PROMPT_HELP_TOPICS,        // status-bar text and tooltip of Help > Contents
  IDS_PROPERTIES_STORED_SIZE,    // "%1 x %2 (stored as %3 x %4, shown turned)"
  IDS_MENU_SETTINGS,             // "Settin&gs"
  IDS_MENU_PREFERENCES,          // "&Preferences..."
  IDS_PROMPT_PREFERENCES,        // status-bar text and tooltip of Preferences
  IDS_PREFS_TITLE,               // "Preferences"
  IDS_PREFS_SIMULTANEOUS,        // "&Simultaneous conversions:"
  IDS_PREFS_SIMULTANEOUS_NOTE,   // "Up to %1, the processor cores of this computer. ..."
  IDS_PREFS_OUTPUT_GROUP,        // "Output folder of new movies"
  IDS_PREFS_BESIDE_MOVIE,        // "&Beside each movie"
  IDS_PREFS_IN_FOLDER,           // "In this &folder:"
  IDS_PREFS_BROWSE,              // "Bro&wse..."
  IDS_PREFS_FOLDER_EMPTY,        // "Choose the folder for new movies, or Beside each movie."
  IDS_MIXED_VALUE,               // "(differs)": a setting the selected movies do not share
  IDS_BREAK_QUESTION,            // "Break the conversion? ..." (Escape during a run)

  // The main form's status area while no run goes on: what Convert would do.
  IDS_READY_EMPTY = 790,         // "Add movies to convert, or drop them here."
  IDS_READY_NONE_CHECKED,        // "No movie is checked: check the movies to convert."
  IDS_READY_ONE,                 // "1 movie, about %2, ready to convert"
  IDS_READY_MANY,                // "%1 movies, about %2, ready to convert"
  IDS_READY_ONE_UNSIZED,         // "1 movie ready to convert"
  IDS_READY_MANY_UNSIZED,        // "%1 movies ready to convert"

  // Status-bar text and tooltip of controls and commands, by control or command id.
  IDC_BATCH_LIST = 1000,
  IDC_SUBTITLE_FILE = 1001,
  IDC_BROWSE_SUBTITLES = 1002,
  IDC_OUTPUT_FOLDER = 1004,
  IDC_BROWSE_FOLDER = 1005,
  IDC_OUTPUT_NAME = 1006,
  IDC_VIDEO_WINDOW = 1011,
  IDC_POSITION_SLIDER = 1012,
  IDC_FRAME_SIZE = 1015,
  IDC_FRAME_RATE = 1018,
  IDC_SPLIT_SIZE = 1020,
  IDC_FILE_STATUS = 1025,
  IDC_FILE_PROGRESS = 1026,
  IDC_TOTAL_PROGRESS = 1027,
  IDC_TOTAL_STATUS = 1028,
  IDC_BREAK = 1029,
  IDC_CONVERT = 1030,
  IDC_PLAY_STATUS = 1036,
  IDC_OUTPUT_FORMAT = 1038,
  IDC_USE_SUBTITLES = 1039,
  IDC_PAUSE_RUN = 1040,
  IDC_SUBTITLE_SIZE = 1041,
  IDC_SUBTITLE_LANGUAGE = 1042,
  IDC_REMOVE_AFTER = 1045,
  IDC_ESTIMATED_SIZE = 1046,
  IDC_FILE_ELAPSED = 1047,
  IDC_FILE_REMAINING = 1048,
  IDC_TOTAL_ELAPSED = 1049,
  IDC_TOTAL_REMAINING = 1050,
  IDC_RESUME_RUN = 1051,
  IDC_SCREEN_SIZE = 1053,
  ID_CMD_ADD_FILES = 32771,
  ID_CMD_MOVE_UP = 32774,
  ID_CMD_MOVE_DOWN = 32775,
  ID_CMD_PLAY = 32776,
  ID_CMD_PAUSE_PREVIEW = 32777,
  ID_CMD_STOP = 32778,
  ID_CMD_REMOVE = 32798,
  ID_CMD_MODIFY_SOURCE = 32799,
  ID_CMD_PROPERTIES = 32801,
};

// The context of the string table's texts in the Qt Linguist files (.ts) of its translations.
inline constexpr char kTranslationContext[] = "StringTable";

// Every id of the built-in table, in increasing order.
std::vector<UINT> Ids();
// True when id's text is meant to be translated; names, patterns and parts of file names
// (the data folder's name, output names, extensions, codec names, texts read back as numbers)
// stay the same in every language.
bool Translatable(UINT id);

// The text of id; an unknown id gives an empty string.
const std::string& Text(UINT id);
// The text of id, or of the built-in table when untranslated.
const std::string& BuiltinText(UINT id);
// True when the table (built-in or translation) has the id.
bool Has(UINT id);

// Replaces texts by id; an empty map restores the built-in texts.
void SetTranslation(std::map<UINT, std::string> texts);
// Reads a translation file: one "id<TAB>text" line per string, "\n" and "\\" escaped;
// blank lines and lines starting with '#' are skipped. False when the file cannot be
// read or a line is malformed (the current texts then stay as they were).
bool LoadTranslationFile(const std::string& path, std::string* error = nullptr);

// The satellite translation of a program: "<program path without extension>.<language>
// .strings" next to it, for the user's locale (for "ko_KR.UTF-8", "ko_KR" is tried, then
// "ko"). A program path of 260 characters or more skips the search, as does the "C" or
// "POSIX" locale. True when a translation was loaded.
bool LoadSatelliteStrings(const std::string& programPath, const std::string& locale);
// The locale of the user's messages (LC_ALL, LC_MESSAGES, LANG).
std::string MessageLocale();

// "%1" ... "%9" in pattern replaced by the arguments (a missing argument gives nothing);
// "%%" gives "%"; any other '%' is kept as is.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args);
inline std::string FormatId(UINT id, std::initializer_list<std::string_view> args) {
  return Format(Text(id), args);
}

// Splits a "a|b|c" item list (the trailing empty items of "||" are dropped).
std::vector<std::string> SplitItems(const std::string& items);

}  // namespace tav::res
