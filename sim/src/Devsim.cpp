#include "sim/Devsim.h"
#include "simos/Clock.h"
#include "simos/CommandWords.h"
#include "simos/HostControllers.h"
#include "simos/Registry.h"
#include "simos/SystemDirectory.h"
#include "simos/WindowsVersion.h"

#include "AudioDevices.h"
#include "Device.h"
#include "Driver.h"
#include "Models.h"
#include "Shared.h"
#include "Streaming.h"
#include "Wire.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace sim
{

using namespace wire;

namespace
{

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kHelp = R"(Usage: devsim <command> [arguments]

The simulated bus of the audio interfaces. The bus lives in the folder named by STRELLIS_SIM_DIR
(default ${XDG_RUNTIME_DIR:-/tmp}/strellis-sim-<uid>); every process using that folder sees the same units.

  plug <unit> (--model <preset> | --caps <file> | --no-caps) [--unique-name <text> |
       --empty-unique-name] [--blank-flash] [--firmware <version>]
        Plug a unit in. A new unit needs a record: a preset or a raw "hwinfo_caps" file of up to 260
        bytes, or --no-caps for a unit without an "hwinfo_caps" value. Without --unique-name the unit
        has no "unique_name" value; --empty-unique-name gives it an empty one. A new unit's flash
        holds the factory session (and a preset's firmware, of the preset's version or --firmware)
        unless --blank-flash. Plugging a known unit again keeps its record and flash unless told
        otherwise; it boots from its flash either way.
  unplug <unit> [--codes <mask>]
        Pull a unit out. The removal broadcasts sent: bit 0 query-remove, bit 1 remove-pending,
        bit 2 remove-complete (default 5).
  list                      The units: name, state, interface path, preset.
  dump <unit>               Record, mixer, clock, flags, driver information, knobs and faults.
  set <unit> <knob> <value...>
        meter.in.<n> <word>, meter.out.<n> <word>   a meter word
        clocks <mask>           detected-clock bits of the status word
        midi <mask>             MIDI activity: status word bits 8 to 15, shifted down by 8
        counters <arm> <dsp-underrun> <dsp-overflow>
        flash.busy <n>          GetStatus polls answered busy after each erase
        driver-version <word>   the IOCTL_DRIVER_VERSION answer
        session-base <address>  the flash byte address GetSessionBase answers
        session-chunk <n>       the most quadlets one ReadSessionBlock reply delivers (1 to 64)
        buffer-size <n>         the kernel driver's buffer size, as SetBufferSize sets it (refused
                                while a streaming client holds the unit)
        held.out <list>, held.in <list>   channels held by another application, e.g. 3,5 (or none)
        capture pattern|silence|loopback:<k>   what the capture frames hold while streaming
        period-clock real|step  the streaming period clock runs in real time, or one period per step
        completed <count>       the completed-period count a streaming client's shared block starts at
        endpoints on|off|anonymous   the unit's playback endpoints and mixers: present, absent, or
                                present without the identification property
  volume <unit> <channel> <dB>
        Set a playback channel's level through the endpoint that carries it, as a user of the system's
        volume controls does (held within -96 to 0 dB; a change notification without a context).
  mute <unit> <channel> 0|1
        Mute or unmute the endpoint that carries a playback channel (every channel it carries).
  endpoints                 The render endpoints and mixer devices of the plugged units.
  stats <unit> <field>=<value> ...
        Set fields of the unit's timing statistics block: play.avg, play.max, rec.avg, rec.max,
        wake.avg, wake.max, host.avg, host.max (performance-counter ticks), play.count, rec.count.
  controllers [<id> ...] | controllers --fail
        The machine's 1394 host controllers by instance id (none empties the list; --fail makes
        the class query fail). Default: one controller.
  os [qpf <hz>]             Show, or set, the performance-counter frequency (default 1000000000).
  os windows [xp|vista]     Show, or set, the Windows release of the machine (default vista).
  os system-dir [<path>|--fail|--default]
                            Show, or set, the machine's system folder, where the ASIO driver is
                            installed (default: the registered driver's folder, else the folder it is
                            built in); --fail makes the query fail.
  os clock [real|manual]    Show, or set, the machine's tick clock: real time (default), or a manual
                            clock from 0 that only sleeps and VDC transactions (1 ms each) move on.
  step <unit> [<n>]         Run n periods (default 1) of a period clock in step mode; each is signalled
                            before the next. Fails when no such clock runs.
  fault <unit> <target> <kind> [<count>|always] [--after <n>]
        target: vdc:<cat>/<cmd>, vdc:any, dc:<sub-code>, ver, open
        kind:   timeout, busreset, vdr:<n>, nt:<n> (VDC only), status:<n> (dc only), fail (any target),
                hold (VDC and dc only, no count: the requests wait, unanswered, until the faults are
                cleared),
                corrupt (vdc:1/2 only: the write succeeds but clears one bit it should keep),
                stuck0:<address>:<bit> (vdc:1/0 only: erasing that bit's block leaves it 0)
        The fault acts on the next <count> matching requests (default 1) of any process, after
        letting <n> matching requests through (default 0).
  fault <unit> clear        Remove every fault of the unit.
  reset                     Pull every unit and empty the bus.
  reg query <key> [<value>] | reg set <key> <value> (sz|dword|binary) <data> | reg delete <key> [<value>]
        Read and change the simulated registry (keys as Windows writes them, e.g.
        HKEY_LOCAL_MACHINE\SOFTWARE\ASIO\ASIO Strellis).
  models                    The presets.
  mkfirmware <preset> <folder> [--firmware <version>] [--quads <n>]
        Write the preset's firmware files (<image>.dat), as a unit of that version holds them.
  help                      This text.

Numbers are decimal, or hexadecimal with 0x.
)";

struct Args
{
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool has(const std::string& key) const { return options.count(key) != 0; }
};

bool parseArgs(const std::vector<std::string>& in, size_t from, Args& out, std::string& why)
{
    static const char* const switches[] = {"--blank-flash", "--empty-unique-name", "--no-caps"};
    for (size_t i = from; i < in.size(); ++i)
    {
        const std::string& a = in[i];
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0)
        {
            out.positional.push_back(a);
            continue;
        }
        // Given twice, one of the two would be dropped without a word: refused instead.
        if (out.options.count(a) != 0)
        {
            why = "option " + a + " given twice";
            return false;
        }
        bool isSwitch = false;
        for (const char* s : switches)
            isSwitch = isSwitch || a == s;
        if (isSwitch)
            out.options[a] = "";
        else if (i + 1 < in.size())
            out.options[a] = in[++i];
        else
        {
            why = "option " + a + " needs a value";
            return false;
        }
    }
    return true;
}

// What a command of the bus accepts: its options, and how many words at most (-1: any number).
struct CommandSpec
{
    const char* name;
    std::vector<const char*> options;
    int maxWords;

    bool takes(const std::string& option) const
    {
        for (const char* o : options)
            if (option == o)
                return true;
        return false;
    }
};

const CommandSpec* findCommand(const std::string& name)
{
    static const CommandSpec commands[] = {
        {"plug",
         {"--model", "--caps", "--no-caps", "--unique-name", "--empty-unique-name", "--blank-flash",
          "--firmware"},
         1},
        {"unplug", {"--codes"}, 1},
        {"list", {}, 0},
        {"dump", {}, 1},
        {"set", {}, -1},
        {"fault", {"--after"}, 4},
        {"reset", {}, 0},
        {"step", {}, 2},
        {"stats", {}, -1},
        {"models", {}, 0},
        {"mkfirmware", {"--firmware", "--quads"}, 2},
    };
    for (const CommandSpec& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool parseU32(const std::string& text, uint32_t* value)
{
    uint64_t v = 0;
    if (!os::parseCommandNumber(text, 0xFFFFFFFFull, &v))
        return false;
    *value = uint32_t(v);
    return true;
}

bool validUnitName(const std::string& name)
{
    if (name.empty() || name.size() >= size_t(kNameBytes))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    return true;
}

bool readFile(const std::string& path, std::string& data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    data = s.str();
    return true;
}

std::string hex(uint32_t v, int digits = 8)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%0*x", digits, v);
    return text;
}

std::string gainText(uint32_t gain)
{
    char text[48];
    const double db = gain == 0 ? -144.0 : 20.0 * std::log10(double(gain) / 16777216.0);
    std::snprintf(text, sizeof(text), "%u (%.2f dB)", gain, db);
    return text;
}

std::string faultText(const Fault& f)
{
    std::string target;
    switch (f.target)
    {
    case TARGET_VDC:
        target = f.category < 0 ? "vdc:any"
                                : "vdc:" + std::to_string(f.category) + "/" + std::to_string(f.command);
        break;
    case TARGET_DC:
        target = "dc:" + std::to_string(f.category);
        break;
    case TARGET_VER:
        target = "ver";
        break;
    default:
        target = "open";
        break;
    }
    static const char* const kinds[] = {"none",    "timeout", "busreset", "vdr:", "fail",
                                        "status:", "corrupt", "stuck0:",  "nt:",  "hold"};
    std::string kind = kinds[f.kind < 10 ? f.kind : 0];
    if (f.kind == FAULT_VDR || f.kind == FAULT_STATUS)
        kind += std::to_string(f.value);
    if (f.kind == FAULT_NT)
        kind += hex(f.value, 1);
    if (f.kind == FAULT_STUCK0)
        kind += hex(f.address, 1) + ":" + std::to_string(f.value);
    if (f.kind == FAULT_HOLD)
        return target + " " + kind + " holding " + std::to_string(f.value);
    return target + " " + kind + " " +
           (f.remaining < 0 ? std::string("always") : std::to_string(f.remaining)) +
           (f.after > 0 ? " after " + std::to_string(f.after) : std::string());
}

class Cli
{
public:
    Cli(std::string& out, std::string& err) : out_(out), err_(err) {}
    int run(const std::vector<std::string>& args);

private:
    int usage(const std::string& why)
    {
        err_ += "devsim: " + why + "\n";
        return kUsage;
    }
    int failure(const std::string& why)
    {
        err_ += "devsim: " + why + "\n";
        return kFailed;
    }
    void line(const std::string& text) { out_ += text + "\n"; }
    bool openBus();
    // The unit's slot and files, under the bus lock; null after reporting.
    std::shared_ptr<UnitFiles> unitFiles(const std::string& name, int* slot);

    int plug(const Args& a);
    int unplug(const Args& a);
    int list();
    int dump(const Args& a);
    int set(const Args& a);
    int fault(const Args& a);
    int reset();
    int models();
    int mkfirmware(const Args& a);
    int step(const Args& a);
    int stats(const Args& a);

    std::string& out_;
    std::string& err_;
    std::shared_ptr<Bus> bus_;
};

bool Cli::openBus()
{
    std::string why;
    bus_ = Bus::current(&why);
    if (!bus_)
        err_ += "devsim: " + why + "\n";
    return bus_ != nullptr;
}

std::shared_ptr<UnitFiles> Cli::unitFiles(const std::string& name, int* slot)
{
    *slot = bus_->findUnit(name);
    if (*slot < 0)
    {
        failure("no unit named " + name);
        return nullptr;
    }
    std::string why;
    std::shared_ptr<UnitFiles> files = bus_->files(*slot, false, &why);
    if (!files)
        failure(why);
    return files;
}

int Cli::run(const std::vector<std::string>& args)
{
    if (args.empty())
    {
        err_ += kHelp;
        return kUsage;
    }
    const std::string& command = args[0];
    if (command == "help" || command == "--help" || command == "-h")
    {
        if (args.size() > 1)
            return usage(os::unexpectedWord(args[1], command));
        out_ += kHelp;
        return kOk;
    }
    if (command == "reg")
        return sim::os::devsimReg({args.begin() + 1, args.end()}, out_, err_);
    if (command == "volume" || command == "mute" || command == "endpoints")
        return audio::devsimCommand(command, {args.begin() + 1, args.end()}, out_, err_);
    if (command == "controllers")
        return sim::os::devsimControllers({args.begin() + 1, args.end()}, out_, err_);
    if (command == "os")
    {
        if (args.size() > 1 && args[1] == "windows")
            return sim::os::devsimOsWindows({args.begin() + 2, args.end()}, out_, err_);
        if (args.size() > 1 && args[1] == "system-dir")
            return sim::os::devsimOsSystemDir({args.begin() + 2, args.end()}, out_, err_);
        if (args.size() > 1 && args[1] == "clock")
            return sim::os::devsimOsClock({args.begin() + 2, args.end()}, out_, err_);
        const int status = sim::os::devsimOs({args.begin() + 1, args.end()}, out_, err_);
        if (status == kOk && args.size() == 1)
        {
            sim::os::devsimOsWindows({}, out_, err_);
            sim::os::devsimOsSystemDir({}, out_, err_);
            sim::os::devsimOsClock({}, out_, err_);
        }
        return status;
    }
    const CommandSpec* spec = findCommand(command);
    if (spec == nullptr)
        return usage("unknown command " + command + " (devsim --help lists them)");
    Args a;
    std::string why;
    if (!parseArgs(args, 1, a, why))
        return usage(why);
    // Anything the command does not know is refused before it acts: a mistyped option or a stray word
    // must not run the command with its defaults.
    for (const auto& option : a.options)
        if (!spec->takes(option.first))
            return usage("unknown option " + option.first + " for " + command +
                         " (devsim --help lists them)");
    if (spec->maxWords >= 0 && a.positional.size() > size_t(spec->maxWords))
        return usage("unexpected word " + a.positional[size_t(spec->maxWords)] + " after " + command +
                     (spec->maxWords == 0 ? "" : " and its arguments"));
    if (command == "models")
        return models();
    if (command == "mkfirmware")
        return mkfirmware(a);
    if (!openBus())
        return kFailed;
    if (command == "plug")
        return plug(a);
    if (command == "unplug")
        return unplug(a);
    if (command == "list")
        return list();
    if (command == "dump")
        return dump(a);
    if (command == "set")
        return set(a);
    if (command == "fault")
        return fault(a);
    if (command == "step")
        return step(a);
    if (command == "stats")
        return stats(a);
    return reset();
}

int Cli::plug(const Args& a)
{
    if (a.positional.size() != 1)
        return usage("plug takes one unit name");
    const std::string& name = a.positional[0];
    if (!validUnitName(name))
        return usage("a unit name has 1 to 31 letters, digits, '-' or '_': " + name);
    if (int(a.has("--model")) + int(a.has("--caps")) + int(a.has("--no-caps")) > 1)
        return usage("plug takes one of --model, --caps and --no-caps");
    if (a.has("--unique-name") && a.has("--empty-unique-name"))
        return usage("plug takes --unique-name or --empty-unique-name, not both");
    const ModelSpec* model = nullptr;
    std::string record;
    if (a.has("--model"))
    {
        model = findModel(a.options.at("--model"));
        if (model == nullptr)
            return usage("no preset named " + a.options.at("--model") + " (devsim models lists them)");
    }
    if (a.has("--caps"))
    {
        if (!readFile(a.options.at("--caps"), record))
            return failure("cannot read " + a.options.at("--caps"));
        if (record.empty() || record.size() > size_t(kCapsBytes))
            return failure("a capability record has 1 to 260 bytes; " + a.options.at("--caps") + " has " +
                           std::to_string(record.size()));
    }
    uint32_t firmware = model != nullptr ? model->firmwareVersion : 0;
    if (a.has("--firmware") && (model == nullptr || !parseVersion(a.options.at("--firmware"), &firmware)))
        return usage(model == nullptr ? "--firmware goes with --model"
                                      : "not a version: " + a.options.at("--firmware"));
    std::string uniqueName;
    if (a.has("--unique-name"))
    {
        uniqueName = a.options.at("--unique-name");
        if (uniqueName.size() >= size_t(kUniqueNameBytes))
            return usage("a unique name has at most 255 characters");
    }
    const bool newRecord = model != nullptr || !record.empty() || a.has("--no-caps");

    BusLock lock(*bus_);
    BusHeader& h = bus_->header();
    int slot = bus_->findUnit(name);
    const bool fresh = slot < 0;
    if (!fresh && h.units[slot].plugged)
        return failure(name + " is plugged in already");
    if (fresh && !newRecord)
        return usage("a new unit needs --model, --caps or --no-caps");
    if (fresh)
    {
        for (int i = 0; i < kMaxUnits && slot < 0; ++i)
            if (!h.units[i].inUse)
                slot = i;
        if (slot < 0)
            return failure("the bus holds " + std::to_string(kMaxUnits) + " units at most");
        UnitSlot& s = h.units[slot];
        s = UnitSlot{};
        std::strncpy(s.name, name.c_str(), kNameBytes - 1);
        s.creationId = ++h.counter;
        s.inUse = 1;
    }
    std::string why;
    std::shared_ptr<UnitFiles> files = bus_->files(slot, fresh, &why);
    if (!files)
    {
        if (fresh)
            h.units[slot] = UnitSlot{};
        return failure(why);
    }
    UnitState& st = files->state();
    if (newRecord)
    {
        std::memset(st.caps, 0, sizeof(st.caps));
        if (model != nullptr)
        {
            st.preset = uint32_t(model - sim::models().data()) + 1;
            buildCaps(*model, uint32_t(h.units[slot].creationId), firmware, st.caps);
            st.capsSize = kCapsBytes;
        }
        else
        {
            st.preset = 0;
            std::memcpy(st.caps, record.data(), record.size());
            st.capsSize = uint32_t(record.size());
        }
        st.hasCaps = a.has("--no-caps") ? 0 : 1;
        st.hasUniqueName = 0;
        resetKnobs(st);
    }
    if (a.has("--unique-name") || a.has("--empty-unique-name"))
    {
        std::memset(st.uniqueName, 0, sizeof(st.uniqueName));
        std::memcpy(st.uniqueName, uniqueName.data(), uniqueName.size());
        st.hasUniqueName = 1;
        st.uniqueNameSize = a.has("--empty-unique-name") ? 0 : uint32_t(uniqueName.size()) + 1;
    }
    if (a.has("--blank-flash"))
        std::memset(files->flash(), 0xFF, kFlashBytes);
    else if (fresh)
        programFactoryFlash(st, files->flash(), firmware);
    bootDevice(st, files->flash());
    audio::latchLayout(st);
    plugUnit(*bus_, slot);
    return kOk;
}

int Cli::unplug(const Args& a)
{
    if (a.positional.size() != 1)
        return usage("unplug takes one unit name");
    uint32_t codes = kDefaultRemovalCodes;
    if (a.has("--codes") && (!parseU32(a.options.at("--codes"), &codes) || codes == 0 || codes > 7))
        return usage("--codes takes a mask from 1 to 7");
    BusLock lock(*bus_);
    const int slot = bus_->findUnit(a.positional[0]);
    if (slot < 0)
        return failure("no unit named " + a.positional[0]);
    if (!bus_->header().units[slot].plugged)
        return failure(a.positional[0] + " is not plugged in");
    unplugUnit(*bus_, slot, codes);
    return kOk;
}

int Cli::list()
{
    BusLock lock(*bus_);
    for (int i = 0; i < kMaxUnits; ++i)
    {
        const UnitSlot& s = bus_->header().units[i];
        if (!s.inUse)
            continue;
        std::shared_ptr<UnitFiles> files = bus_->files(i, false, nullptr);
        const uint32_t preset = files ? files->state().preset : 0;
        const char* record = files && files->state().hasCaps ? "record" : "none";
        if (preset > 0 && preset <= sim::models().size())
            record = sim::models()[preset - 1].key;
        line(std::string(s.name) + (s.plugged ? " plugged " : " unplugged ") + interfacePath(s.name) + " " +
             record);
    }
    return kOk;
}

int Cli::dump(const Args& a)
{
    if (a.positional.size() != 1)
        return usage("dump takes one unit name");
    BusLock lock(*bus_);
    int slot;
    std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
    if (!files)
        return kFailed;
    const UnitSlot& s = bus_->header().units[slot];
    const UnitState& u = files->state();
    const Mixer& m = u.mixer;
    auto word = [&u](int offset) { return loadLe32(u.caps + offset); };
    line("unit " + std::string(s.name) + (s.plugged ? " plugged" : " unplugged"));
    line("path " + interfacePath(s.name));
    line("record " +
         (u.hasCaps ? (u.preset > 0 ? std::string(sim::models()[u.preset - 1].key) : std::string("raw")) +
                          ", " + std::to_string(u.capsSize) + " bytes"
                    : std::string("(no value)")));
    line("vendor " + hex(word(caps::kIdHigh) >> 8, 6) + " model " + hex(word(caps::kModel), 4) + " unit id " +
         hex(word(caps::kIdHigh)) + hex(word(caps::kIdLow)).substr(2));
    line("unique_name " + (u.hasUniqueName ? "\"" + std::string(u.uniqueName) + "\" (" +
                                                 std::to_string(u.uniqueNameSize) + " bytes)"
                                           : std::string("(no value)")));
    const Counts n = countsOf(u);
    line("channels " + std::to_string(n.inputs) + " in, " + std::to_string(n.outputs) + " out, " +
         std::to_string(n.playback) + " playback");
    line("firmware arm " + versionText(word(caps::kArmVersion)) + " dsp " +
         versionText(word(caps::kDspVersion)) + " fpga " + versionText(word(caps::kFpgaVersion)));
    line("clock " + std::to_string(m.clock) + " rate " + std::to_string(m.rate) + " flags " + hex(m.flags) +
         " phantom " + std::to_string(m.phantom));
    line("driver version " + hex(u.driverVersion) + " flags " + hex(u.driverFlags) + " buffer " +
         std::to_string(u.bufferSize) + " (32 to 2048, step 32)");
    line("status " + hex(statusWord(u)) + " clocks " + hex(u.clocks, 2) + " midi " + hex(u.midi, 2));
    line("counters " + std::to_string(u.counters[0]) + " " + std::to_string(u.counters[1]) + " " +
         std::to_string(u.counters[2]));
    line("flash busy " + std::to_string(u.busyPollsLeft) + " of " + std::to_string(u.flashBusyPolls) +
         " lock " + std::to_string(u.flashLock) + " session-base " + hex(u.sessionBase) + " session-chunk " +
         std::to_string(u.sessionChunk));
    line("identify " + std::to_string(u.identifyCount));
    uint32_t played;
    uint32_t recorded;
    std::memcpy(&played, u.stats + kStPlayCount, 4);
    std::memcpy(&recorded, u.stats + kStRecCount, 4);
    line("statistics playback " + std::to_string(played) + " record " + std::to_string(recorded));
    line("reset-statistics " + std::to_string(u.statisticsResets));
    for (const Fault& f : u.faults)
        if (f.kind != FAULT_NONE)
            line("fault " + faultText(f));
    std::string meters = "meters out";
    for (uint32_t i = 0; i < std::min<uint32_t>(word(caps::kMeters1), kMaxChannels); ++i)
        meters += " " + std::to_string(u.meterOut[i]);
    line(meters);
    meters = "meters in";
    for (uint32_t i = 0; i < std::min<uint32_t>(word(caps::kMeters2), kMaxChannels); ++i)
        meters += " " + std::to_string(u.meterIn[i]);
    line(meters);
    for (uint32_t c = 0; c < n.outputs; ++c)
        line("out " + std::to_string(c) + " gain " + gainText(m.outGain[c]) + " mute " +
             std::to_string(m.outMute[c]) + " nominal " + std::to_string(m.outNominal[c]));
    for (uint32_t c = 0; c < n.inputs; ++c)
        line("in " + std::to_string(c) + " nominal " + std::to_string(m.inNominal[c]));
    for (uint32_t c = 0; c < n.playback; ++c)
        line("play " + std::to_string(c) + " gain " + gainText(m.playGain[c]) + " mute " +
             std::to_string(m.playMute[c]) + " solo " + std::to_string(m.playSolo[c]));
    for (uint32_t i = 0; i < n.inputs; ++i)
        for (uint32_t o = 0; o < n.outputs; ++o)
            line("mon " + std::to_string(i) + " " + std::to_string(o) + " gain " + gainText(m.monGain[i][o]) +
                 " mute " + std::to_string(m.monMute[i][o]) + " solo " + std::to_string(m.monSolo[i][o]) +
                 " pan " + std::to_string(m.monPan[i][o]));
    std::string isoc = "isoc";
    for (uint32_t w : m.isoc)
        isoc += " " + std::to_string(w);
    line(isoc);
    for (const std::string& text : stream::dumpLines(u))
        line(text);
    for (const std::string& text : audio::dumpLines(u))
        line(text);
    return kOk;
}

int Cli::step(const Args& a)
{
    if (a.positional.empty() || a.positional.size() > 2)
        return usage("step takes a unit and a number of periods");
    uint32_t periods = 1;
    if (a.positional.size() == 2 && (!parseU32(a.positional[1], &periods) || periods == 0))
        return usage("not a number of periods: " + a.positional[1]);
    int slot;
    {
        BusLock lock(*bus_);
        if (!unitFiles(a.positional[0], &slot))
            return kFailed;
    }
    std::string why;
    if (!stream::step(*bus_, slot, periods, why))
        return failure(why);
    return kOk;
}

int Cli::stats(const Args& a)
{
    if (a.positional.size() < 2)
        return usage("stats takes a unit and <field>=<value> ...");
    struct Field
    {
        const char* name;
        int offset;
        bool wide; // signed 64-bit ticks; else an unsigned 32-bit count
    };
    static const Field fields[] = {{"play.avg", kStPlayAvg, true},      {"play.max", kStPlayMax, true},
                                   {"rec.avg", kStRecAvg, true},        {"rec.max", kStRecMax, true},
                                   {"wake.avg", kStWakeAvg, true},      {"wake.max", kStWakeMax, true},
                                   {"host.avg", kStHostAvg, true},      {"host.max", kStHostMax, true},
                                   {"play.count", kStPlayCount, false}, {"rec.count", kStRecCount, false}};
    struct Setting
    {
        const Field* field;
        uint64_t value;
    };
    std::vector<Setting> settings;
    for (size_t i = 1; i < a.positional.size(); ++i)
    {
        const std::string& word = a.positional[i];
        const size_t eq = word.find('=');
        const Field* field = nullptr;
        for (const Field& f : fields)
            if (eq != std::string::npos && word.compare(0, eq, f.name) == 0 && eq == std::strlen(f.name))
                field = &f;
        if (field == nullptr)
            return usage("not a statistics field: " + word + " (devsim --help lists them)");
        const std::string text = word.substr(eq + 1);
        uint64_t v = 0;
        if (!os::parseCommandNumber(text, field->wide ? 0x7FFFFFFFFFFFFFFFull : 0xFFFFFFFFull, &v))
            return usage("not a value for " + std::string(field->name) + ": " + text);
        settings.push_back({field, v});
    }
    BusLock lock(*bus_);
    int slot;
    std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
    if (!files)
        return kFailed;
    uint8_t* block = files->state().stats;
    for (const Setting& s : settings)
    {
        if (s.field->wide)
            std::memcpy(block + s.field->offset, &s.value, 8); // little-endian, as the driver keeps it
        else
            storeLe32(block + s.field->offset, uint32_t(s.value));
    }
    return kOk;
}

int Cli::set(const Args& a)
{
    if (a.positional.size() < 3)
        return usage("set takes a unit, a knob and its value");
    const std::string& knob = a.positional[1];
    const bool counters = knob == "counters";
    const size_t values = a.positional.size() - 2;
    const size_t wanted = counters ? 3 : 1;
    if (values < wanted)
        return usage("counters takes three values");
    if (values > wanted)
    {
        std::string what = "set";
        for (size_t i = 0; i < 2 + wanted; ++i)
            what += " " + a.positional[i];
        return usage(os::unexpectedWord(a.positional[2 + wanted], what));
    }
    if (knob == "endpoints")
    {
        BusLock lock(*bus_);
        int slot;
        std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
        if (!files)
            return kFailed;
        std::string why;
        return audio::setEndpointKnob(files->state(), a.positional[2], why) ? kOk : usage(why);
    }
    if (knob == "held.out" || knob == "held.in" || knob == "capture" || knob == "period-clock" ||
        knob == "completed")
    {
        BusLock lock(*bus_);
        int slot;
        std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
        if (!files)
            return kFailed;
        std::string why;
        return stream::setKnob(files->state(), knob, a.positional[2], why) ? kOk : usage(why);
    }
    std::vector<uint32_t> v(values);
    for (size_t i = 0; i < values; ++i)
        if (!parseU32(a.positional[2 + i], &v[i]))
            return usage("not a number: " + a.positional[2 + i]);

    BusLock lock(*bus_);
    int slot;
    std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
    if (!files)
        return kFailed;
    UnitState& u = files->state();
    const uint32_t x = v[0];
    if (knob.compare(0, 9, "meter.in.") == 0 || knob.compare(0, 10, "meter.out.") == 0)
    {
        const bool in = knob[6] == 'i';
        uint32_t channel;
        if (!parseU32(knob.substr(in ? 9 : 10), &channel) || channel >= uint32_t(kMaxChannels))
            return usage("meters are numbered 0 to 63: " + knob);
        (in ? u.meterIn : u.meterOut)[channel] = x;
    }
    else if (knob == "clocks")
        u.clocks = x & 0xFF;
    else if (knob == "midi")
        u.midi = x & 0xFF;
    else if (counters)
        std::memcpy(u.counters, v.data(), sizeof(u.counters));
    else if (knob == "flash.busy")
        u.flashBusyPolls = x;
    else if (knob == "driver-version")
        u.driverVersion = x;
    else if (knob == "session-base")
    {
        if (x % 4 != 0 || uint64_t(x) + session::kBytes > kFlashBytes)
            return failure("the session does not fit at " + a.positional[2]);
        u.sessionBase = x;
    }
    else if (knob == "session-chunk")
    {
        if (x < 1 || x > 64)
            return failure("a session chunk is 1 to 64 quadlets");
        u.sessionChunk = x;
    }
    else if (knob == "buffer-size")
    {
        if (x < kBufferMin || x > kBufferMax || x % kBufferStep != 0)
            return failure("a buffer size is 32 to 2048 in steps of 32");
        if (stream::clientHolds(u))
            return failure("a streaming client holds " + a.positional[0]);
        u.bufferSize = x;
    }
    else
        return usage("unknown knob " + knob + " (devsim --help lists them)");
    return kOk;
}

int Cli::fault(const Args& a)
{
    if (a.positional.size() >= 2 && a.positional[1] == "clear")
    {
        if (a.positional.size() > 2)
            return usage(os::unexpectedWord(a.positional[2], "fault " + a.positional[0] + " clear"));
        if (a.has("--after"))
            return usage("clear takes no --after");
        BusLock lock(*bus_);
        int slot;
        std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
        if (!files)
            return kFailed;
        for (Fault& f : files->state().faults)
            f = Fault{};
        return kOk;
    }
    if (a.positional.size() != 3 && a.positional.size() != 4)
        return usage("fault takes a unit, a target, a kind and a count, or a unit and clear");
    Fault f{};
    f.category = -1;
    f.command = -1;
    f.remaining = 1;
    const std::string& target = a.positional[1];
    uint32_t n = 0;
    uint32_t m = 0;
    if (target == "vdc:any")
        f.target = TARGET_VDC;
    else if (target.compare(0, 4, "vdc:") == 0 && target.find('/') != std::string::npos)
    {
        const size_t slash = target.find('/');
        if (!parseU32(target.substr(4, slash - 4), &n) || !parseU32(target.substr(slash + 1), &m) ||
            n > 255 || m > 255)
            return usage("not a VDC target: " + target);
        f.target = TARGET_VDC;
        f.category = int32_t(n);
        f.command = int32_t(m);
    }
    else if (target.compare(0, 3, "dc:") == 0)
    {
        if (!parseU32(target.substr(3), &n) || n > 255)
            return usage("not a driver-control target: " + target);
        f.target = TARGET_DC;
        f.category = int32_t(n);
    }
    else if (target == "ver")
        f.target = TARGET_VER;
    else if (target == "open")
        f.target = TARGET_OPEN;
    else
        return usage("unknown fault target " + target);
    const std::string& kind = a.positional[2];
    if (kind == "timeout")
        f.kind = FAULT_TIMEOUT;
    else if (kind == "busreset")
        f.kind = FAULT_BUSRESET;
    else if (kind == "fail")
        f.kind = FAULT_FAIL;
    else if (kind.compare(0, 3, "nt:") == 0 && parseU32(kind.substr(3), &f.value))
        f.kind = FAULT_NT;
    else if (kind.compare(0, 4, "vdr:") == 0 && parseU32(kind.substr(4), &f.value))
        f.kind = FAULT_VDR;
    else if (kind.compare(0, 7, "status:") == 0 && parseU32(kind.substr(7), &f.value))
        f.kind = FAULT_STATUS;
    else if (kind == "corrupt")
        f.kind = FAULT_CORRUPT;
    else if (kind == "hold")
        f.kind = FAULT_HOLD;
    else if (kind.compare(0, 7, "stuck0:") == 0)
    {
        // stuck0:<address>:<bit>
        const size_t colon = kind.find(':', 7);
        if (colon == std::string::npos || !parseU32(kind.substr(7, colon - 7), &f.address) ||
            !parseU32(kind.substr(colon + 1), &f.value) || f.address % 4 != 0 || f.address >= kFlashBytes ||
            f.value > 31)
            return usage("not a stuck bit (stuck0:<address>:<bit>): " + kind);
        f.kind = FAULT_STUCK0;
    }
    else
        return usage("unknown fault kind " + kind);
    const bool vdcOnly =
        f.kind == FAULT_TIMEOUT || f.kind == FAULT_BUSRESET || f.kind == FAULT_VDR || f.kind == FAULT_NT;
    if ((vdcOnly && f.target != TARGET_VDC) || (f.kind == FAULT_STATUS && f.target != TARGET_DC) ||
        (f.kind == FAULT_HOLD && f.target != TARGET_VDC && f.target != TARGET_DC) ||
        (f.kind == FAULT_CORRUPT && (f.target != TARGET_VDC || f.category != 1 || f.command != 2)) ||
        (f.kind == FAULT_STUCK0 && (f.target != TARGET_VDC || f.category != 1 || f.command != 0)))
        return usage(kind + " does not apply to " + target);
    if (f.kind == FAULT_HOLD && (a.positional.size() == 4 || a.has("--after")))
        return usage("hold takes no count: it holds the requests until the faults are cleared");
    if (a.has("--after"))
    {
        if (!parseU32(a.options.at("--after"), &n) || n > 0x7FFFFFFF)
            return usage("--after takes a number of requests");
        f.after = int32_t(n);
    }
    if (a.positional.size() == 4)
    {
        if (a.positional[3] == "always")
            f.remaining = -1;
        else if (!parseU32(a.positional[3], &n) || n < 1 || n > 0x7FFFFFFF)
            return usage("a fault count is a positive number or always");
        else
            f.remaining = int32_t(n);
    }
    BusLock lock(*bus_);
    int slot;
    std::shared_ptr<UnitFiles> files = unitFiles(a.positional[0], &slot);
    if (!files)
        return kFailed;
    for (Fault& free : files->state().faults)
        if (free.kind == FAULT_NONE)
        {
            free = f;
            return kOk;
        }
    return failure("a unit holds " + std::to_string(kMaxFaults) + " faults at most");
}

int Cli::reset()
{
    BusLock lock(*bus_);
    BusHeader& h = bus_->header();
    for (int i = 0; i < kMaxUnits; ++i)
    {
        if (!h.units[i].inUse)
            continue;
        unplugUnit(*bus_, i, kDefaultRemovalCodes);
        bus_->removeFiles(i);
        h.units[i] = UnitSlot{};
    }
    h.changeCount++;
    return kOk;
}

int Cli::models()
{
    for (const ModelSpec& m : sim::models())
    {
        char text[160];
        std::snprintf(text, sizeof(text), "%-8s %-13s vendor 0x%04x model 0x%04x firmware %s", m.key, m.name,
                      m.vendorId, m.modelId, versionText(m.firmwareVersion).c_str());
        line(text);
    }
    return kOk;
}

int Cli::mkfirmware(const Args& a)
{
    if (a.positional.size() != 2)
        return usage("mkfirmware takes a preset and a folder");
    const ModelSpec* m = findModel(a.positional[0]);
    if (m == nullptr)
        return usage("no preset named " + a.positional[0]);
    uint32_t version = m->firmwareVersion;
    if (a.has("--firmware") && !parseVersion(a.options.at("--firmware"), &version))
        return usage("not a version: " + a.options.at("--firmware"));
    uint32_t quads = 4096;
    if (a.has("--quads") && (!parseU32(a.options.at("--quads"), &quads) || quads == 0 || quads > 98302))
        return usage("--quads takes 1 to 98302");
    for (uint32_t i = 0; i < m->imageCount; ++i)
    {
        const std::string text = datText(makeImage(m->images[i], version, quads));
        const std::string path = a.positional[1] + "/" + m->images[i] + ".dat";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(text.data(), std::streamsize(text.size()));
        if (!file)
            return failure("cannot write " + path);
        line(path);
    }
    return kOk;
}

} // namespace

int devsimMain(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    Cli cli(out, err);
    return cli.run(args);
}

} // namespace sim
