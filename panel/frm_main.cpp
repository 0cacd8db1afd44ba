// The window composes: the controls, the session, and the features with what each one uses.
#include "panel/frm_main.h"

#include "panel/adjust/audio.h"
#include "panel/adjust/bezel.h"
#include "panel/adjust/picture.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "panel/routing/display_modes.h"
#include "panel/routing/factory_reset.h"
#include "panel/routing/presets.h"
#include "panel/routing/routing_map.h"
#include "panel/shell/command_log.h"
#include "panel/shell/interface_frame.h"
#include "panel/shell/frm_keypad.h"
#include "panel/shell/menu_keys.h"
#include "panel/shell/network_query.h"
#include "panel/shell/output_resolution.h"
#include "panel/shell/power_lock.h"
#include "panel/shell/refresh_all.h"
#include "panel/focus_keeper.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>

namespace tavrion {

FrmMain::FrmMain(const Platform& platform, QWidget* parent)
    : QWidget(parent), platform_(platform), pictures_(platform.program_dir)
{
    setupUi(this);
    focus_keeper_ = new FocusKeeper(this);
    connect(cmd_advance, &QPushButton::clicked, this, [this] { cmd_advance_Click(); });

    DeviceSession& s = *(session_ = std::make_unique<DeviceSession>(
                             SessionPlatform{platform.clock, platform.serial, platform.socket, platform.boxes,
                                             LinkWatch::Polled, platform.reply_wait}));
    DeviceModel& m = s.model();
    command_log_ = std::make_unique<CommandLog>(s, CommandLog::Controls{txt_cmd, cmd_clear});
    interface_frame_ = std::make_unique<InterfaceFrame>(
        s, flags_,
        InterfaceFrame::Controls{opt_interface, cmd_conn, cmd_disconn, cmd_conn_eth, cmd_disconn_eth, cbo_com, lab_ip,
                                 txt_ip, lab_eth_state, cmd_get_ip});
    picture_ = std::make_unique<Picture>(
        s, m, flags_,
        Picture::Controls{hsr_con, hsr_bri, hsr_sat, hsr_hue, txt_con, txt_bri, txt_sat, txt_hue, cmd_pic_refresh,
                          cmd_pic_reset});
    bezel_ = std::make_unique<Bezel>(s, m, flags_,
                                     Bezel::Controls{opt_bezel_onoff, hsr_bezel_h, txt_bezel_h, hsr_bezel_v, txt_bezel_v});
    audio_ = std::make_unique<Audio>(s, m, device_, flags_, pictures_, Audio::Controls{opt_audio, opt_da, opt_db, cmd_mute});
    routing_ = std::make_unique<RoutingMap>(s, m, device_,
                                            RoutingMap::Controls{cmd_out, cmd_inp, line_a, line_b, line_c, line_d});
    modes_ = std::make_unique<DisplayModes>(
        s, m, device_, *routing_,
        DisplayModes::Controls{cmd_mode, cmd_out, cmd_recall, cmd_save, fra_dual_a, fra_dual_b, fra_bezel, lab_con,
                               lab_bri, lab_sat, lab_hue, hsr_con, hsr_bri, hsr_sat, hsr_hue, txt_con, txt_bri, txt_sat,
                               txt_hue});
    presets_ = std::make_unique<Presets>(s, m, *routing_, Presets::Controls{cmd_recall, cmd_save});
    factory_reset_ = std::make_unique<FactoryReset>(s, m, *picture_, FactoryReset::Controls{cmd_fact_reset});
    power_lock_ = std::make_unique<PowerLock>(
        s, m, device_, pictures_,
        PowerLock::Controls{cmd_pwr, cmd_lock, cmd_mute, cmd_fact_reset, fra_btn, fra_recall_save, fra_dual_a,
                            fra_dual_b, fra_bezel, fra_pic, fra_audio});
    output_resolution_ = std::make_unique<OutputResolution>(s, m, flags_, OutputResolution::Controls{cbo_output});
    network_query_ = std::make_unique<NetworkQuery>(
        s, m, NetworkQuery::Controls{cmd_get_ip, txt_get_ip, txt_get_mask, txt_get_gate});
    refresh_all_ = std::make_unique<RefreshAll>(s, m, flags_,
                                                RefreshAll::Controls{cmd_refresh, img_start, cmd_keypad, cmd_ver, txt_ver});
    // A deletion of the window that came up while a handler was suspended in one of the session's
    // event passes is carried out once they are all over.
    connect(&s, &DeviceSession::event_passes_ended, this, [this] {
        if (!delete_deferred_) return;
        delete_deferred_ = false;
        deleteLater();
    });
    menu_keys_ = std::make_unique<MenuKeys>(
        s, this, MenuKeys::KeypadTargets{*power_lock_, *audio_, *modes_, *routing_},
        MenuKeys::Controls{cmd_menu_menu, cmd_menu_exit, cmd_menu_ok, cmd_menu_up, cmd_menu_down, cmd_menu_left,
                           cmd_menu_right, cmd_keypad});
}

FrmMain::~FrmMain() = default;

DeviceModel& FrmMain::model() { return session_->model(); }

ShownState FrmMain::device_state() const
{
    return {device_.power_state, device_.lock_state, device_.audio_state, session_->model().display_mode(),
            session_->model().current_output(), device_.cur_input, session_->model().bezel_max_pending()};
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool FrmMain::event(QEvent* event)
{
    // A window that deletes itself on close, closed while Refresh waits for an answer: deleting it
    // now would pull the features from under the handler that is still on the stack.
    if (event->type() == QEvent::DeferredDelete && session_ && session_->event_passes() > 0) {
        delete_deferred_ = true;
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            // A Tab that reaches the window came from a disabled control (an enabled one handles
            // it itself): the user moves on, the focus is not kept.
            focus_keeper_->set_tabbing(true);
            const bool handled = QWidget::event(event);
            focus_keeper_->set_tabbing(false);
            return handled;
        }
    }
    return QWidget::event(event);
}

bool FrmMain::focusNextPrevChild(bool next)
{
    if (focus_keeper_ && focus_keeper_->keeps_focus()) return true;
    return QWidget::focusNextPrevChild(next);
}

} // namespace tavrion
