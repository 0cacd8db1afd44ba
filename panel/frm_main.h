// The main window: builds the controls, creates the device session, its device model and one
// object per feature, and runs start-up and shutdown. The features are views of the model:
//   shell/    interface_frame, command_log, refresh_all (and version), power_lock,
//             output_resolution, menu_keys (and the keypad window), network_query
//   routing/  routing_map, display_modes, presets, factory_reset
//   adjust/   picture, bezel, audio
#pragma once

#include "panel/main_controls.h"
#include "panel/panel_state.h"
#include "panel/state_pictures.h"
#include "session/device_session.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace tavrion {

class Audio;
class Bezel;
class Clock;
class CommandLog;
class DeviceModel;
class DeviceSession;
class DisplayModes;
class FactoryReset;
class FocusKeeper;
class InterfaceFrame;
class MenuKeys;
class MessageBoxes;
class NetworkQuery;
class OutputResolution;
class Picture;
class PowerLock;
class Presets;
class RefreshAll;
class RoutingMap;
class SerialPort;
class TcpClient;

// What the window needs from the platform. The caller owns all of it and keeps it alive as long
// as the window; tests put fakes here.
struct Platform {
    QString program_dir;          // folder of the executable: settings, resolution list, bmp/
    Clock* clock = nullptr;       // millisecond clock of the waits
    SerialPort* serial = nullptr; // the COM port
    TcpClient* socket = nullptr;  // the TCP client
    MessageBoxes* boxes = nullptr;
    // The window waits in steps; tests of the engine run it the way tavrion-ctl and the hub do too.
    ReplyWait reply_wait = ReplyWait::Stepped;
};

// What the window knows of the device: the toggles' state and the input it shows, with the mode,
// the current output and the pending bezel maximum from the model.
struct ShownState {
    int power_state;
    int lock_state;
    int audio_state;
    int display_mode;
    int cur_output;
    int cur_input;
    bool bezel_max_pending;
};

class FrmMain : public QWidget, public MainControls {
    Q_OBJECT
public:
    explicit FrmMain(const Platform& platform, QWidget* parent = nullptr);
    ~FrmMain() override;

    // ---- start-up and shutdown (panel/startup.cpp) ------------------------------------------
    // Runs the start-up course and shows the window. False when a file error stopped it: the
    // message has been shown and the window never appeared.
    bool Form_Load();
    void Form_Unload();
    void cmd_advance_Click();
    void set_outer_height(int twips);
    QString settings_path() const;
    QString resolution_list_path() const;

    DeviceSession& session() { return *session_; }
    DeviceModel& model();
    ShownState device_state() const;
    const PanelFlags& flags() const { return flags_; }
    const StatePictures& pictures() const { return pictures_; }

    InterfaceFrame& interface_frame() { return *interface_frame_; }
    CommandLog& command_log() { return *command_log_; }
    RefreshAll& refresh_all() { return *refresh_all_; }
    PowerLock& power_lock() { return *power_lock_; }
    OutputResolution& output_resolution() { return *output_resolution_; }
    MenuKeys& menu_keys() { return *menu_keys_; }
    NetworkQuery& network_query() { return *network_query_; }
    RoutingMap& routing() { return *routing_; }
    DisplayModes& modes() { return *modes_; }
    Presets& presets() { return *presets_; }
    FactoryReset& factory_reset() { return *factory_reset_; }
    Picture& picture() { return *picture_; }
    Bezel& bezel() { return *bezel_; }
    Audio& audio() { return *audio_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    Platform platform_;
    ReportedState device_;
    PanelFlags flags_;
    StatePictures pictures_;
    bool unloaded_ = false;
    bool delete_deferred_ = false;
    FocusKeeper* focus_keeper_ = nullptr; // a child of the window

    // Built in this order, each given the features it calls; torn down in reverse.
    std::unique_ptr<DeviceSession> session_;
    std::unique_ptr<CommandLog> command_log_;
    std::unique_ptr<InterfaceFrame> interface_frame_;
    std::unique_ptr<Picture> picture_;
    std::unique_ptr<Bezel> bezel_;
    std::unique_ptr<Audio> audio_;
    std::unique_ptr<RoutingMap> routing_;
    std::unique_ptr<DisplayModes> modes_;
    std::unique_ptr<Presets> presets_;
    std::unique_ptr<FactoryReset> factory_reset_;
    std::unique_ptr<PowerLock> power_lock_;
    std::unique_ptr<OutputResolution> output_resolution_;
    std::unique_ptr<NetworkQuery> network_query_;
    std::unique_ptr<RefreshAll> refresh_all_;
    std::unique_ptr<MenuKeys> menu_keys_;

    friend class PanelTestAccess; // tests: state only a long course or a race reaches
};

} // namespace tavrion
