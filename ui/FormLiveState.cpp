// The window's channels for the line's dashboard (see LiveStateFeed).

#include "engine/RunProgress.h"
#include "records/Recorder.h"
#include "ui/KestruneUiForm.h"
#include "ui/LiveStateFeed.h"
#include "ui/WindowRecords.h"

#include <QStatusBar>

namespace kestrune {

void TKestruneUiForm::StartLiveState() {
  const records::Recorder *recorder = Records->Recorder();
  LiveState = std::make_unique<LiveStateFeed>(recorder->ServerUrl(), recorder->Station(),
                                              [this] { return LiveChannels(); }, this);
}

std::vector<LiveChannel> TKestruneUiForm::LiveChannels() const {
  std::vector<LiveChannel> channels;
  const std::string image = Image ? Image->Sha256 : std::string();
  for (int i = 0; i < ChannelCount; ++i) {
    const ProgressSnapshot progress = Panel[i]->RunProgressState().Snapshot();
    LiveChannel channel;
    channel.State.Channel = ChannelRows[i].Number;
    channel.State.Port = PortText(i).toStdString();
    channel.State.Phase = RunPhaseName(progress.Phase);
    channel.State.Percent = progress.RunPercent;
    channel.State.LastText = StatusBar[i]->currentMessage().toStdString();
    channel.State.ImageSha256 = image;
    channel.Outcome = Outcome[i];
    channels.push_back(std::move(channel));
  }
  return channels;
}

} // namespace kestrune
