// Every control of the main window by its name; setupUi creates them with their captions,
// positions (twips), fonts and start states, as uic would from a form.
#pragma once

#include "panel/indexed.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QWidget;

namespace tavrion {

class LineShape;

struct MainControls {
    void setupUi(QWidget* frm_main);

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
};

} // namespace tavrion
