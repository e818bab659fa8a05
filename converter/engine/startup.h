// Start-up pieces of the converter: the repairs of the codec environment, the folders
// and profile location, the codecs.ini filter veto, and the application object's
// engine half (the GUI and the command line each drive one).
#pragma once

#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "media/contract/comptr.h"
#include "media/contract/unknown.h"

namespace tav {

// Deletes every stream subtype key under "Media Type\{MEDIATYPE_Stream}" of the classes
// root whose "RIFF" check bytes ("0,4,,52494646") name a source filter other than the
// platform's file source. Failures are ignored.
void RepairRiffSourceFilter();

// Empty when the folder of the registry store exists (or can be made) and takes files;
// otherwise a text naming the folder and why it cannot be used. Nothing can be registered
// or created by class without it, so start-up asks before anything else.
std::string RegistryProblem();

// Sets "outChangeCompatOnly" = 0 in the current user's ffdshow "default" and
// "high_resolution" keys, where they exist. Nothing is created.
void TuneFfdshow();

// Registers again the platform's codec libraries found in the system folder, then every
// component library in libraryFolder whose classes have lost their keys in the registry
// (a library counts as lost when no class key names its file). Returns the libraries
// registered. An empty libraryFolder means the program's "../lib".
// libraryNames: the stems of the libraries to look after (without "lib" and ".so", case,
// '_' and '-' ignored); empty means the system's own: its six component libraries and
// the platform filter library (any stem ending in "filters").
std::vector<std::string> ReregisterCodecs(const std::string& libraryFolder = std::string(),
                                          const std::vector<std::string>& libraryNames = {});

// Loads the component libraries ReregisterCodecs looks after (same folder and names) as the
// class store would, with everything they need (the media libraries): a process that forks
// afterwards gives its children all of it already loaded and relocated. Returns how many
// were loaded; one that cannot be is left for the class store to report when it is needed.
int PreloadComponentLibraries(const std::string& libraryFolder = std::string(),
                              const std::vector<std::string>& libraryNames = {});

// The folders of InitInstance.
struct StartupFolders {
  std::string programFolder;    // no trailing '/'
  std::string documentsFolder;
  std::string videosFolder;
  std::string dataFolder;       // application data + "/Merolan/" + executable name, created
  std::string profilePath;      // the private profile, inside dataFolder
};
// profileName: the framework's profile name before it is moved (e.g. "TavrionConverter.ini").
StartupFolders ResolveStartupFolders(const std::string& profileName);

// codecs.ini of programFolder, section "DSBLACKLIST": "*" non-zero allows everything;
// otherwise a key named exactly clsidText with value 0 refuses the filter.
bool IsFilterAllowedByIni(const std::string& programFolder, const std::string& clsidText);

class CTavrionConverterApp : public IFilterVeto {
 public:
  CTavrionConverterApp();
  ~CTavrionConverterApp() override;

  // Steps of start-up that need no window: the three repairs, the folders and the
  // profile location, the exporter holder. Never fails: every repair ignores failures.
  void InitEnvironment(const std::string& profileName);
  // Releases what InitEnvironment created.
  void ExitEnvironment();

  // IFilterVeto (the graph builder's question).
  bool IsFilterAllowed(void* builder, const std::string& clsidText) override;

  const StartupFolders& Folders() const { return folders_; }
  // Overrides the program folder (tests; a front end started from elsewhere).
  void SetProgramFolder(std::string folder) { folders_.programFolder = std::move(folder); }
  bool HasExporterHolder() const { return exporterHolder_ != nullptr; }

 private:
  StartupFolders folders_;
  // "VXCMN Cam Holder Object": keeps the exporter library loaded for the program's life.
  ComPtr<IUnknown> exporterHolder_;
};

}  // namespace tav
