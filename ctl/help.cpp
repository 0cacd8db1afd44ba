// tavrion-ctl's help: the whole text, one verb's part of it, and the version.
#include "ctl/invocation.h"

#include <sstream>

namespace tavrion::ctl {

std::string help_text()
{
    return R"(Usage: tavrion-ctl [OPTIONS] VERB [ARGUMENTS]
       tavrion-ctl help [VERB]      (or VERB --help): the whole help, or one verb's part of it

Controls a KV-7720 video matrix switcher from the command line and from scripts. It speaks to
the device exactly as the Tavrion panel does: the same commands, the same bounded waits for each
answer, the same longer waits for mode and preset commands, the same restart handling.

Link (one of them; without either, the link, COM port and address of the tavrion.ini beside the
program, which tavrion-ctl only reads):
  --serial COMn|PATH    RS-232 at 115200,N,8,1: COM1 to COM9 as the panel opens them (on Linux
                        <program folder>/serial/COMn when it exists, else /dev/ttyS<n-1>), or the
                        path of a serial device (a relative path starts in the current folder)
  --tcp HOST[:PORT]     Ethernet: TCP to HOST, port 23 unless given ([IPv6]:PORT for IPv6);
                        blanks around the address are ignored, as in the panel's address box

Options:
  --json                print one JSON document instead of lines: with status the device; with
                        diff and the verbs that change something {"verb", "ok", "exit", "result",
                        "errors", "state"} (diff and restore also "differences"), where "state"
                        holds what the device's answers reported during the verb (null: not read)
  --quiet, -q           print nothing on standard output: the exit status alone (errors still go
                        to standard error)
  --verbose             print each command and reply with a time stamp on standard error, as the
                        panel's command log holds them
  --wait-ready SECONDS  after a restart over TCP (power on, factory-reset), reconnect until the
                        device answers again, for at most SECONDS (1 to 3600)
  --help, -h            this text; with a verb, that verb's part of it
  --version             the program's version and the protocol it speaks
  --                    the end of the options: what follows is the verb and its arguments
                        (a negative number such as -1 is always a value, never an option)

Verbs:
  status [--json]       read everything, as Refresh in the expanded window does, and print it;
                        a query left unanswered ends the reading: what was read is printed (exit 1)
  route OUTPUT INPUT    show INPUT (1 to 4) on OUTPUT: A, B, C, D, or AL, AR, BL, BR as Dual mode
                        names the same four outputs (taken in any mode); sends what the panel's
                        output and input buttons send: route B 3 is OUT002, INP999, INP003
  route wall INPUT      TV Wall: output 1 as the panel selects it for the wall, then the input
                        (OUT001, INP00n)
  mode matrix|dual|tv-wall
  power on|standby      over TCP, power on restarts the device (see --wait-ready)
  lock on|off           the front-panel keys
  mute on|off           the audio output (mute on: no sound)
  edid 2ch|6ch|8ch|bitstream|hd
                        the audio capability the device announces in its EDID
  dual-audio A|B left|right
                        which audio half dual display A or B plays
  picture brightness|contrast|saturation|hue ROW VALUE
                        ROW is all in Matrix mode, A to D in Dual and TV Wall; VALUE 0 to 100
  picture reset         the device resets every picture value
  bezel on|off          bezel correction
  bezel h|v VALUE       horizontal or vertical correction, 0 up to the device's maximum
  resolution N|NAME     entry N or the entry NAME of output_reso.txt; the 5th and 6th entries are
                        offered in Matrix mode only
  preset recall|save N  preset 1 to 4
  menu up|down|left|right|ok|menu|exit
                        one key of the device's on-screen menu
  factory-reset --yes   every setting and every preset back to the factory's; over TCP the device
                        restarts (see --wait-ready)
  version               the firmware version
  send CODE             one raw six-character command (such as OUT002); prints the reply, and
                        exits 1 unless the reply carries the command's own code
  run FILE|-            one verb a line from FILE or standard input; # starts a comment; double
                        quotes keep blanks in a word (backup "hall 2.json"); all on one connection;
                        the whole file is checked first; stops at the first failure and names its
                        line
  backup FILE           write the status --json document to FILE, whole or not at all; FILE must
                        be a regular file (or a link to one) in a folder that can be written,
                        checked before anything is sent
  restore FILE          put a backup back, read the device back and print what differs
  diff FILE             read the device and print each value that differs from a backup; a device
                        in standby reports no settings (exit 1)
  help [VERB]           this text, or one verb's part of it

What a verb reads first: picture reads the mode (MOD999), since the rows and the command's
parameter depend on it; resolution 5 and 6 read the mode and send nothing outside Matrix; power
reads the power state (PWR999) and sends nothing when the device is already there. route reads
nothing first. mode re-reads the routes and the picture values, and preset recall the routes, as
the panel does after them.

Backups hold the mode, the route of each output, the picture values of the mode's rows, bezel
on/off and both amounts, audio EDID, mute, the Dual audio halves, the output resolution and the
lock; and, for reference, firmware, power, the bezel maximums and, read over RS-232, the device's
IP address, subnet mask and gateway. A device in standby reports no settings and cannot be backed
up or compared. A backup is refused before anything is sent when its settings contradict each
other (resolution 5 or 6 outside Matrix, a resolution whose name and number disagree with
output_reso.txt, a key given twice). restore puts the settings back in this order: mode, routes,
picture, bezel, audio, resolution, lock. It does not touch power: it refuses a device in
standby (run power on first) and never puts one into standby. Firmware and network settings are
the unit's own, and power is kept for reference: none of them is restored or compared.

Presets cannot be read out of the device: backup, restore and diff do not cover them. To carry
presets to another unit, recall each one on the first unit, back it up, and on the other unit
restore it and save it (preset save N).

Exit status:
  0  done (diff: no differences); over TCP also power on and factory-reset once the command has
     gone out and the link has dropped as the device restarts
  1  the device refused a command (ERR; ERR003: it is in standby), answered another code or an
     unreadable line, did not answer within the wait, or did not take a value; status could read
     nothing at all; the device's state does not allow the verb (a picture row of another mode,
     resolution 5 or 6 outside Matrix, backup, restore or diff of a device in standby); diff or
     restore found differences or restore had a step refused; the backup file or standard output
     could not be written (no space left on the device, the file size limit, a closed output)
  2  usage error, found before anything is sent: unknown verb or option, a value out of range,
     a file that cannot be read or is not a backup, no link given and none usable in tavrion.ini
  3  the link could not be opened or connected, or was lost (the port or address is named), or
     the device ended the session (EXT); a restarted device did not answer again within
     --wait-ready; a run file goes on after a restart without --wait-ready

Results go to standard output; errors, naming the command and what came back, to standard error.

Examples:
  tavrion-ctl --tcp 192.168.1.100 status
  tavrion-ctl --serial COM1 route B 3
  tavrion-ctl --tcp 10.0.0.7 power on --wait-ready 60
  tavrion-ctl --tcp 10.0.0.7 backup room12.json
  tavrion-ctl --tcp 10.0.0.8 restore room12.json
  tavrion-ctl --tcp 10.0.0.7 diff room12.json || echo "room 12 changed"
)";
}

std::string verb_help(const std::string& verb)
{
    // The verb's entries of the "Verbs:" list: a line indented by two with the verb as its first
    // word, and the deeper-indented lines that go on from it.
    std::istringstream text(help_text());
    std::string line, part;
    bool in_verbs = false, taking = false;
    while (std::getline(text, line)) {
        if (line == "Verbs:") {
            in_verbs = true;
            continue;
        }
        if (!in_verbs) continue;
        if (line.empty()) break;
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ') {
            const std::string first = line.substr(2, line.find(' ', 2) - 2);
            taking = first == verb;
        }
        if (taking) part += line + "\n";
    }
    if (part.empty()) return {};
    return "Usage: tavrion-ctl [OPTIONS] " + verb + " ...\n\n" + part
        + "\nThe options, exit status and examples: tavrion-ctl --help\n";
}

std::string version_text()
{
    return "tavrion-ctl " TAVRION_VERSION "\n"
           "speaks the KV-7720 command protocol: six-character ASCII commands, each ended by CR, over\n"
           "RS-232 at 115200,N,8,1 or TCP (port 23), with the Tavrion panel's waits\n";
}

} // namespace tavrion::ctl
