// The main window of the panel: every control, the state the features share, and the handlers.
//
// One class, as the window is one object; its handlers are defined in the folder of the subsystem
// they belong to:
//   link/     transaction.cpp (send_command, waits, log, dispatch), serial_link.cpp,
//             ethernet_link.cpp, send_nowait.cpp
//   shell/    frm_main_controls.cpp (the control inventory), startup.cpp, refresh_all.cpp,
//             power_lock.cpp, output_resolution.cpp, menu_keys.cpp, network_query.cpp
//   routing/  routing_map.cpp, display_modes.cpp, presets.cpp, factory_reset.cpp
//   adjust/   picture.cpp, bezel.cpp, audio.cpp
#pragma once

#include "shell/frm_keypad.h"
#include "shell/indexed.h"
#include "shell/message_boxes.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace tavrion {

class Clock;
class LineShape;
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
};

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(const Platform& platform, QWidget* parent = nullptr);
    ~FrmMain() override;

    // ---- start-up and shutdown (shell/startup.cpp) ------------------------------------------
    // Runs the start-up course and shows the window. False when a file error stopped it: the
    // message has been shown and the window never appeared.
    bool Form_Load();
    void Form_Unload();
    void cmd_advance_Click();
    void set_outer_height(int twips);
    QString settings_path() const;
    QString resolution_list_path() const;
    QString picture_path(const QString& name) const; // <program folder>/bmp/<name>

    // ---- transactions (link/transaction.cpp) ------------------------------------------------
    void send_command(const std::string& command);
    void wait_seconds(float seconds);
    void await_late_reply();
    void cmd_clear_Click();
    void log_entry(const std::string& text);
    // Calls the reply handler of `code`. `ethernet_receiver` selects the column that includes
    // EXT. False when the table has no handler for the code.
    bool dispatch_reply(const std::string& code, bool ethernet_receiver);
    void do_events(); // process pending window events once
    void show_message(const QString& text, BoxIcon icon);

    // ---- serial link (link/serial_link.cpp) -------------------------------------------------
    void set_comm();
    void cbo_com_Click();
    void cmd_conn_Click();
    void cmd_disconn_Click();
    void serial_write(const std::string& command);
    void tim_rx_Timer();
    void set_tim_rx_enabled(bool on); // the receive tick's enabled state as the design sees it
    bool tim_rx_enabled() const { return tim_rx_on; }
    void serial_device_lost();
    void serial_ready_read(); // the port reports received bytes

    // ---- Ethernet link and interface selection (link/ethernet_link.cpp) ---------------------
    void opt_interface_Click(int index);
    void cmd_conn_eth_Click();
    void cmd_disconn_eth_Click();
    void wsk_client_Connect();
    void wsk_client_DataArrival();
    void tim_eth_Timer();
    void reply_ext();
    void eth_send(const std::string& command);

    // ---- unacknowledged sends (link/send_nowait.cpp) ----------------------------------------
    void send_command_nowait(const std::string& command);

    // ---- refresh all and firmware version (shell/refresh_all.cpp) ---------------------------
    void cmd_refresh_Click();
    void cmd_ver_Click();
    void reply_ver();

    // ---- power and lock (shell/power_lock.cpp) ----------------------------------------------
    void cmd_pwr_Click();
    void cmd_lock_Click();
    void reply_pwr();
    void reply_lck();
    // Loads <program folder>/bmp/<name> onto a picture button; a missing or unreadable file
    // leaves the picture as it was.
    bool show_picture(QPushButton* button, const QString& name);

    // ---- output resolution (shell/output_resolution.cpp) ------------------------------------
    void cbo_output_Click();
    void reply_res();

    // ---- on-screen menu and keypad (shell/menu_keys.cpp, shell/frm_keypad.cpp) --------------
    void cmd_menu_menu_Click();
    void cmd_menu_exit_Click();
    void cmd_menu_ok_Click();
    void cmd_menu_up_Click();
    void cmd_menu_down_Click();
    void cmd_menu_left_Click();
    void cmd_menu_right_Click();
    void cmd_keypad_Click();
    FrmKeypad* keypad_window() const { return frm_keypad; }

    // ---- network settings (shell/network_query.cpp) -----------------------------------------
    void cmd_get_ip_Click();

    // ---- routing (routing/routing_map.cpp) --------------------------------------------------
    void cmd_out_Click(int index);
    void cmd_inp_Click(int index);
    void reply_out();
    void reply_inp();
    void map_refresh();
    // The line from output `output` (1..4) to input `input` (1..4); nullptr outside the arrays.
    LineShape* routing_line(int output, int input) const;

    // ---- display modes (routing/display_modes.cpp) ------------------------------------------
    void cmd_mode_Click(int index);
    void reply_mod();

    // ---- presets (routing/presets.cpp) ------------------------------------------------------
    void cmd_recall_Click(int index);
    void cmd_save_Click(int index);
    void reply_cal();
    void reply_sav();

    // ---- factory reset (routing/factory_reset.cpp) ------------------------------------------
    void cmd_fact_reset_Click();
    void reply_rst();

    // ---- picture adjustment (adjust/picture.cpp) --------------------------------------------
    void hsr_bri_Change(int index);
    void hsr_con_Change(int index);
    void hsr_hue_Change(int index);
    void hsr_sat_Change(int index);
    void cmd_pic_refresh_Click();
    void cmd_pic_reset_Click();
    void reply_bri();
    void reply_con();
    void reply_hue();
    void reply_sat();
    void picture_reset_step(); // the RST...2 course, called by reply_rst

    // ---- bezel correction (adjust/bezel.cpp) ------------------------------------------------
    void hsr_bezel_h_Change();
    void hsr_bezel_v_Change();
    void opt_bezel_onoff_Click(int index);
    void reply_beh();
    void reply_bev();
    void reply_bez();

    // ---- audio (adjust/audio.cpp) -----------------------------------------------------------
    void opt_audio_Click(int index);
    void opt_da_Click(int index);
    void opt_db_Click(int index);
    void cmd_mute_Click();
    void reply_aua();
    void reply_aub();
    void reply_aud();
    void reply_aue();

    // ==== shared state (start values: Form_Load) ============================================
    bool ui_events_enabled = false;
    bool advanced_view = false;
    int link_interface = 0; // 0 RS-232, 1 Ethernet
    int com_port = 1;       // 1..9
    bool serial_connected = false;
    bool eth_connected = false;
    bool cmd_busy = false;
    bool reply_ok = false;
    std::string reply_text; // receive buffer; after acceptance the six-character reply
    int rx_count = 0;
    int log_lines = 0;
    bool waiting = false;
    int net_query_state = 254;
    int power_state = 254;
    int lock_state = 254;
    int audio_state = 254;
    int display_mode = 1;
    int cur_output = 1;
    int cur_input = 1;
    bool bezel_max_pending = false;
    bool keypad_open = false;

    // Counters for tests and benchmarks; the design does not read them.
    quint64 wait_step_count = 0; // calls of wait_seconds
    // Told the code of each reply just before its handler runs (reply_text holds the reply).
    std::function<void(const std::string& code)> on_dispatch;

    // ==== controls ===========================================================================
    // Window level, compact strip
    QPushButton* cmd_refresh = nullptr;
    QPushButton* cmd_keypad = nullptr;
    QPushButton* cmd_pwr = nullptr;
    QPushButton* cmd_advance = nullptr;
    QGroupBox* fra_rs232 = nullptr;
    QWidget* fra_btn = nullptr;

    // Interface frame
    Indexed<QRadioButton, 0, 1> opt_interface;
    QPushButton* cmd_conn = nullptr;
    QPushButton* cmd_disconn = nullptr;
    QPushButton* cmd_conn_eth = nullptr;
    QPushButton* cmd_disconn_eth = nullptr;
    QComboBox* cbo_com = nullptr;
    QLabel* lab_ip = nullptr;
    QLineEdit* txt_ip = nullptr;
    QLabel* lab_eth_state = nullptr;

    // Routing panel
    Indexed<QPushButton, 1, 4> cmd_out;
    Indexed<QPushButton, 1, 4> cmd_inp;
    Indexed<LineShape, 1, 4> line_a, line_b, line_c, line_d;
    Indexed<QPushButton, 1, 3> cmd_mode;
    QPushButton* cmd_mute = nullptr;
    QPushButton* cmd_menu_up = nullptr;
    QPushButton* cmd_lock = nullptr;
    QPushButton* cmd_menu_left = nullptr;
    QPushButton* cmd_menu_ok = nullptr;
    QPushButton* cmd_menu_right = nullptr;
    QPushButton* cmd_menu_exit = nullptr;
    QPushButton* cmd_menu_down = nullptr;
    QPushButton* cmd_menu_menu = nullptr;
    QLabel* lab_reso_out = nullptr;
    QComboBox* cbo_output = nullptr;
    QLabel* img_start = nullptr;

    // Expanded area
    QGroupBox* fra_dual_a = nullptr;
    QGroupBox* fra_dual_b = nullptr;
    Indexed<QRadioButton, 1, 2> opt_da;
    Indexed<QRadioButton, 1, 2> opt_db;
    QGroupBox* fra_bezel = nullptr;
    Indexed<QRadioButton, 0, 1> opt_bezel_onoff;
    QLabel* lab_bezel_h = nullptr;
    QScrollBar* hsr_bezel_h = nullptr;
    QLineEdit* txt_bezel_h = nullptr;
    QLabel* lab_bezel_v = nullptr;
    QScrollBar* hsr_bezel_v = nullptr;
    QLineEdit* txt_bezel_v = nullptr;
    QGroupBox* fra_pic = nullptr;
    QLabel* lab_pic = nullptr;
    QPushButton* cmd_pic_reset = nullptr;
    QPushButton* cmd_pic_refresh = nullptr;
    QGroupBox* fra_con = nullptr;
    QGroupBox* fra_bri = nullptr;
    QGroupBox* fra_sat = nullptr;
    QGroupBox* fra_hue = nullptr;
    Indexed<QLabel, 1, 4> lab_con, lab_bri, lab_sat, lab_hue;
    Indexed<QScrollBar, 1, 4> hsr_con, hsr_bri, hsr_sat, hsr_hue;
    Indexed<QLineEdit, 1, 4> txt_con, txt_bri, txt_sat, txt_hue;
    QGroupBox* fra_audio = nullptr;
    Indexed<QRadioButton, 0, 4> opt_audio;
    QPushButton* cmd_fact_reset = nullptr;
    QPushButton* cmd_ver = nullptr;
    QLineEdit* txt_ver = nullptr;
    QGroupBox* fra_recall_save = nullptr;
    Indexed<QPushButton, 1, 4> cmd_recall;
    Indexed<QPushButton, 1, 4> cmd_save;
    QPushButton* cmd_get_ip = nullptr;
    QLabel* lab_inq_ip = nullptr;
    QLineEdit* txt_get_ip = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txt_get_mask = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txt_get_gate = nullptr;
    QPlainTextEdit* txt_cmd = nullptr;
    QPushButton* cmd_clear = nullptr;

    // Non-visual members
    QTimer* tim_rx = nullptr;  // the 1 ms receive tick; runs only while bytes wait (see set_tim_rx_enabled)
    QTimer* tim_eth = nullptr; // 7000 ms attempt timeout, then the 100 ms link watch
    SerialPort* MSComm1 = nullptr;
    TcpClient* wsk_client = nullptr;

signals:
    void keypad_closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool check_link();        // the link check of both senders: false (and the message) when down
    void create_controls();   // shell/frm_main_controls.cpp
    void connect_controls();  // shell/frm_main_controls.cpp
    // One routine for the four picture properties (adjust/picture.cpp).
    void picture_slider_change(const char* code, const Indexed<QScrollBar, 1, 4>& sliders,
                               const Indexed<QLineEdit, 1, 4>& boxes, int index);
    void picture_reply(const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes);
    void bezel_reply(QScrollBar* slider, QLineEdit* box);
    void bezel_slider_change(const char* code, QScrollBar* slider, QLineEdit* box);
    void option_reply(QRadioButton* selected);

    Platform platform_;
    Clock* clock_ = nullptr;
    bool tim_rx_on = false; // the receive tick as the design switches it
    class WaitDeadline* wait_deadline_ = nullptr; // wakes a sleeping wait (link/transaction.cpp)
    bool unloaded_ = false;
    QPointer<FrmKeypad> frm_keypad;
    friend class FrmKeypad;
};

} // namespace tavrion
