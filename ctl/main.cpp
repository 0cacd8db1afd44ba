// tavrion-ctl: the KV-7720 from the command line and from scripts (see --help).
#include "ctl/output.h"
#include "ctl/program.h"
#include "verbs/session_device.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // Under a file-size limit a write then fails with EFBIG, which is reported, instead of the
    // program ending without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before anything is opened: a port or socket must never land on a closed standard descriptor.
    tavrion::ctl::hold_if_closed(0);
    tavrion::ctl::hold_if_closed(2);
    const bool out_closed = tavrion::ctl::hold_if_closed(1);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrion-ctl"));
    // The arguments as given: paths stay in the system's own encoding.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string program_dir = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    tavrion::ctl::DescriptorOutput out_buffer(1, out_closed);
    std::ostream out(&out_buffer);
    int status = tavrion::ctl::run_program(args, program_dir, tavrion::verbs::session_opener(program_dir), out, std::cerr);
    out.flush();
    std::string why;
    if (!out_buffer.finish(why)) {
        std::cerr << "tavrion-ctl: cannot write standard output: " << why << "\n";
        if (status == tavrion::verbs::kExitDone) status = tavrion::verbs::kExitDevice;
    }
    return status;
}
