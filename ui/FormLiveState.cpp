// The window's channels for the line's dashboard (see LiveStateFeed).

#include "engine/RunProgress.h"
#include "job/JobFile.h"
#include "records/Recorder.h"
#include "ui/JobModePanel.h"
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

std::vector<records::ChannelState> TKestruneUiForm::LiveChannels() const {
  std::vector<records::ChannelState> channels;
  const std::string image = Image ? Image->Sha256 : std::string();
  const std::string job = JobMode && JobMode->IsOpen() ? job::JobTitle(JobMode->Job()) : std::string();
  for (int i = 0; i < ChannelCount; ++i) {
    const ProgressSnapshot progress = Panel[i]->RunProgressState().Snapshot();
    records::ChannelState channel;
    channel.Channel = ChannelRows[i].Number;
    channel.Port = PortText(i).toStdString();
    channel.Phase = RunPhaseName(progress.Phase);
    channel.Percent = progress.RunPercent;
    channel.LastText = StatusBar[i]->currentMessage().toStdString();
    channel.ImageSha256 = image;
    channel.Job = job;
    channels.push_back(std::move(channel));
  }
  return channels;
}

} // namespace kestrune
