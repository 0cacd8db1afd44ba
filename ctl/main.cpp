// tavrion-ctl: the KV-7720 from the command line and from scripts (see --help).
#include "ctl/runner.h"
#include "ctl/session_device.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrion-ctl"));
    // The arguments as given: paths stay in the system's own encoding.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string program_dir = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    return tavrion::ctl::run_program(args, program_dir, tavrion::ctl::session_opener(program_dir), std::cout, std::cerr);
}
