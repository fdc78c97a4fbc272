#include "setting_page.hpp"

#include <utility>

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

using Model = SettingPageModel;

constexpr std::pair<int, int> kSettingControls[] = {
    {Model::Port, IDC_comboPort},
    {Model::Baud, IDC_comboBaud},
    {Model::Demo, IDC_checkDemo},
    {Model::Year, IDC_comboYear},
    {Model::Month, IDC_comboMonth},
    {Model::Day, IDC_comboDay},
    {Model::Hour, IDC_comboHour},
    {Model::Minute, IDC_comboMinute},
    {Model::RtcSetup, IDC_radioRtcSetup},
    {Model::RtcCheck, IDC_radioRtcCheck},
    {Model::Clock, IDC_editClock},
    {Model::Retry, IDC_comboRetry},
    {Model::RetrySetting, IDC_radioRetrySetting},
    {Model::RetryCheck, IDC_radioRetryCheck},
    {Model::RetryText, IDC_editRetry},
    {Model::Capture, IDC_comboCapture},
    {Model::CaptureSetting, IDC_radioCaptureSetting},
    {Model::CaptureCheck, IDC_radioCaptureCheck},
    {Model::CaptureText, IDC_editCapture},
};

}  // namespace

CSetting::CSetting(PageCommands &commands) : DialogWindow(IDD_CSetting), model_(view(), commands) {}

void CSetting::on_init() {
  for (const auto &[control, id] : kSettingControls) bind(control, id);
  on(IDC_buttonPortOpen, BN_CLICKED, [this] { model_.port_open(); });
  on(IDC_buttonRtcExecute, BN_CLICKED, [this] { model_.rtc_execute(); });
  on(IDC_buttonRetryApply, BN_CLICKED, [this] { model_.retry_apply(); });
  on(IDC_buttonCaptureApply, BN_CLICKED, [this] { model_.capture_apply(); });
  model_.init();
}

}  // namespace tolvex::bench::win32
