// Input-to-output routing: the output and input button rows, the coloured line of each output, and
// the read-back of all four routes.
#pragma once

#include "panel/indexed.h"

#include <QObject>

class QPushButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class LineShape;
struct ReportedState;

class RoutingMap : public QObject {
public:
    struct Controls {
        Indexed<QPushButton, 1, 4> cmd_out;
        Indexed<QPushButton, 1, 4> cmd_inp;
        Indexed<LineShape, 1, 4> line_a, line_b, line_c, line_d; // output A..D to input 1..4
    };
    RoutingMap(DeviceSession& session, DeviceModel& model, ReportedState& device, const Controls& controls);

    void cmd_out_Click(int index);
    void cmd_inp_Click(int index);
    void reply_out(int output);
    void reply_inp(int output, int input);
    void map_refresh();
    // The line from output `output` (1..4) to input `input` (1..4); nullptr outside the arrays.
    LineShape* routing_line(int output, int input) const;

private:
    DeviceSession& session_;
    DeviceModel& model_;
    ReportedState& device_;
    Controls c_;
};

} // namespace tavrion
