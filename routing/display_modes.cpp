// Matrix, Dual and TV Wall: the mode buttons, and the MOD reply that lays the window out for the
// device's mode.
#include "shell/frm_main.h"

#include "link/protocol.h"
#include "routing/line_shape.h"
#include "shell/colours.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace tavrion {

void FrmMain::cmd_mode_Click(int index)
{
    if (!cmd_mode.has(index)) return;
    for (int m = 1; m <= 3; ++m) set_back_colour(cmd_mode(m), button_face_colour());
    for (int m = 1; m <= 3; ++m) cmd_mode(m)->setEnabled(false);
    // A mode change clears the output and preset highlights.
    for (int n = 1; n <= 4; ++n) {
        set_back_colour(cmd_out(n), button_face_colour());
        set_back_colour(cmd_recall(n), button_face_colour());
        set_back_colour(cmd_save(n), button_face_colour());
    }

    send_command("MOD" + pad3(index));
    // The device takes seconds to switch; its answer may come after send_command gave up.
    await_late_reply();

    if (reply_ok) {
        if (index != 3) {
            map_refresh();
            if (reply_ok) cmd_pic_refresh_Click();
        } else {
            // No map in a video wall: only output 1 and its input are read.
            send_command("OUT001");
            if (reply_ok) send_command("INP999");
            if (reply_ok) cmd_pic_refresh_Click();
        }
    }

    if (index != 3) set_back_colour(cmd_out(cur_output), selection_colour);
    for (int m = 1; m <= 3; ++m) cmd_mode(m)->setEnabled(true);
}

void FrmMain::reply_mod()
{
    // A mode the window has no layout for (MOD009, MOD000) is ignored entirely: display_mode keeps
    // a value every other handler knows how to branch on, and the layout stays as it is.
    const int mode = reply_last_digit(reply_text);
    if (!cmd_mode.has(mode)) return;
    display_mode = mode;

    for (int m = 1; m <= 3; ++m) set_back_colour(cmd_mode(m), button_face_colour());
    set_back_colour(cmd_mode(display_mode), selection_colour);

    fra_dual_a->setEnabled(false);
    fra_dual_b->setEnabled(false);
    fra_bezel->setEnabled(false);

    for (int o = 1; o <= 4; ++o)
        for (int i = 1; i <= 4; ++i) routing_line(o, i)->hide();

    auto set_row_labels = [this](int n, const QString& caption) {
        for (QLabel* l : {lab_con(n), lab_bri(n), lab_sat(n), lab_hue(n)}) l->setText(caption);
    };

    switch (display_mode) {
    case 1: {
        const char* captions[] = {"A", "B", "C", "D"};
        for (int n = 1; n <= 4; ++n) cmd_out(n)->setText(QString::fromLatin1(captions[n - 1]));
        set_row_labels(1, QStringLiteral("ALL"));
        for (int n = 2; n <= 4; ++n) {
            set_row_labels(n, QString());
            for (QLineEdit* box : {txt_bri(n), txt_con(n), txt_hue(n), txt_sat(n)}) box->clear();
            for (QScrollBar* s : {hsr_con(n), hsr_bri(n), hsr_sat(n), hsr_hue(n)}) s->setEnabled(false);
        }
        break;
    }
    case 2: {
        const char* captions[] = {"AL", "AR", "BL", "BR"};
        for (int n = 1; n <= 4; ++n) cmd_out(n)->setText(QString::fromLatin1(captions[n - 1]));
        if (power_state == 1) {
            fra_dual_a->setEnabled(true);
            fra_dual_b->setEnabled(true);
        }
        for (int n = 1; n <= 4; ++n) set_row_labels(n, QString::fromLatin1(captions[n - 1]));
        break;
    }
    case 3: {
        for (int n = 1; n <= 4; ++n) {
            set_back_colour(cmd_out(n), button_face_colour());
            cmd_out(n)->setText(QString());
        }
        if (power_state == 1) fra_bezel->setEnabled(true);
        const char* captions[] = {"Out A", "Out B", "Out C", "Out D"};
        for (int n = 1; n <= 4; ++n) set_row_labels(n, QString::fromLatin1(captions[n - 1]));
        break;
    }
    }

    if (display_mode == 2 || display_mode == 3)
        for (int n = 2; n <= 4; ++n)
            for (QScrollBar* s : {hsr_con(n), hsr_bri(n), hsr_sat(n), hsr_hue(n)}) s->setEnabled(true);

    for (int m = 1; m <= 3; ++m) cmd_mode(m)->setEnabled(true);
}

} // namespace tavrion
