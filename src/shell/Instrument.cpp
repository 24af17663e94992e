#include "shell/Instrument.h"

#include "output/OutputFolders.h"

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
          [this](int portIndex) { return ports_.devicePath(portIndex + 1); }, options.timings) {
    pipeline_.setRecorder(&recorder_);
    pipeline_.setPublication(&publication_);
}

void Instrument::shutdown() {
    reception_.shutdown();
    publication_.destroy();
}

} // namespace kelvora
