#include "shell/Instrument.h"

#include "output/OutputFolders.h"

#include <limits>

namespace kelvora {

Instrument::Instrument(const PipelineSettings& pipelineSettings,
                       const RecorderSettings& recorderSettings,
                       std::shared_ptr<SoundPlayer> player, ReceptionView& view,
                       const std::string& workingFolder, InstrumentOptions options)
    : sounds_(alerts_, pipelineSettings, std::move(player)),
      recorder_(accelerogramFolder(workingFolder), recorderSettings, clock_),
      publication_(options.publicationName),
      pipeline_(state_, pipelineSettings, alerts_, board_, sounds_), port_(options.readTimeout),
      reception_(
          pipeline_, port_, view,
          [this](int portIndex) {
              // The stored index is COM number - 1; one that names no number
              // (a hand-edited store) opens nothing.
              return portIndex >= 0 && portIndex < std::numeric_limits<int>::max()
                         ? ports_.devicePath(portIndex + 1)
                         : std::string();
          },
          options.timings) {
    pipeline_.setRecorder(&recorder_);
    pipeline_.setPublication(&publication_);
}

void Instrument::shutdown() {
    reception_.shutdown();
    publication_.destroy();
}

} // namespace kelvora
