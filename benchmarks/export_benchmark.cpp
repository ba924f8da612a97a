// Figures for the work that grows with the device's data: a whole export of the sample device,
// group expansion over large group definition files, pruning of many empty elements, and the
// removal of repeated lines from a long attribute list; and what running a command costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "Command.h"
#include "DevicePath.h"
#include "Staging.h"

namespace {

std::string makeDevice(const char* tag, bool sample)
{
    const std::string root = std::string(CLONE_BINARY_DIR) + "/bench-device-" + tag;
    std::string command = "rm -rf '" + root + "' && '" CLONE_SOURCE_DIR "/device/mkdevice.sh' ";
    command += sample ? "--plugins '" CLONE_SAMPLE_PLUGIN_DIR "' --clonefile '" CLONEFILE_PATH "' " : "--bare ";
    command += "'" + root + "' >/dev/null";
    if (std::system(command.c_str()) != 0) {
        std::abort();
    }
    ::setenv("CLONE_DEVICE_ROOT", root.c_str(), 1);
    cloneutil::refreshDeviceRoot();
    return root;
}

// The whole pipeline on the sample device: groups, plug-ins, helpers, pruning, archive, signing.
void BM_SampleExport(benchmark::State& state)
{
    const std::string root = makeDevice("sample", true);
    std::string out = root + "/out";
    for (auto _ : state) {
        std::string groups = "NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP ";
        if (createCloneDLM(&out[0], "clone-demo", &groups[0]) != 0) {
            state.SkipWithError("export failed");
            break;
        }
    }
}
BENCHMARK(BM_SampleExport)->Unit(benchmark::kMillisecond);

// One group of N subgroups, each an NVRAM section of five attributes: the attribute file is read
// once per group and the manifest written once per group, so the time grows with N alone.
void BM_GroupExpansion(benchmark::State& state)
{
    const int subgroups = static_cast<int>(state.range(0));
    const std::string root = makeDevice("groups", false);
    const std::string data = root + "/xpaths/nc_dlms_data/clone/data/";
    std::ofstream groups(data + "tmp_groups_parsed");
    std::ofstream attribs(data + "tmp_attrib_parsed");
    groups << "BIG_GROUP\n";
    for (int i = 0; i < subgroups; ++i) {
        groups << "SUB_" << i << "\n";
        attribs << "SUB_" << i << "\n<NVRAM>\n";
        for (int a = 0; a < 5; ++a) {
            attribs << "TOKEN_" << i << ":TAG_" << a << "\n";
        }
        attribs << "</NVRAM>\n";
    }
    groups.close();
    attribs.close();
    for (auto _ : state) {
        CloneCreator creator(const_cast<char*>("/tmp"));
        std::string line = "BIG_GROUP ";
        benchmark::DoNotOptimize(creator.createGroups(&line[0]));
    }
    state.SetComplexityN(subgroups);
}
BENCHMARK(BM_GroupExpansion)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Complexity();

// N sibling groups each holding one empty element: single passes would need N of them, each a
// parse and a save; the export's one walk needs one.
void BM_Pruning(benchmark::State& state)
{
    const int groups = static_cast<int>(state.range(0));
    const std::string root = makeDevice("prune", false);
    const std::string file = root + "/manifest.xml";
    std::string xml = "<?xml version=\"1.0\"?><CloningManifest><cloningData><version>1.0.0</version>";
    for (int i = 0; i < groups; ++i) {
        xml += "<g" + std::to_string(i) + "><leaf/></g" + std::to_string(i) + "><kept>x</kept>";
    }
    xml += "</cloningData></CloningManifest>";
    CloneCreator creator(const_cast<char*>("/tmp"));
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(file) << xml;
        state.ResumeTiming();
        creator.pruneManifest(file);
    }
    state.SetComplexityN(groups);
}
BENCHMARK(BM_Pruning)->Arg(10)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->Complexity();

// A list of N lines, each value twice: repeats are found by look-up, not by re-reading what is
// already written, so the time grows with N alone.
void BM_RemoveDuplicates(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    const std::string root = makeDevice("dedup", false);
    {
        std::ofstream source(root + "/xpaths/tmp_cloningData/source");
        for (int i = 0; i < lines; ++i) {
            source << "dataStore.attribute[" << i % (lines / 2) << "].value\n";
        }
    }
    CloneCreator creator(const_cast<char*>("/tmp"));
    for (auto _ : state) {
        creator.removeDuplicates("/xpaths/tmp_cloningData/source", "/xpaths/tmp_cloningData/ds_ccs_attr_list");
    }
    state.SetComplexityN(lines);
}
BENCHMARK(BM_RemoveDuplicates)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A flat folder of N stored jobs captured by descriptor (each file opened, checked and copied with
// its mode, owner and times), beside cp -a of the same folder: the capture should stay within twice
// what cp takes.
const char kJobs[] = "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/";

std::string flatFolder(int files)
{
    const std::string root = makeDevice("flat", false);
    const std::string jobs = root + kJobs;
    if (std::system(("mkdir -p '" + jobs + "' && cd '" + jobs + "' && seq -f 'job_%06g.xml' 1 " + std::to_string(files) +
                     " | xargs sh -c 'for f; do echo \"<job>$f</job>\" > \"$f\"; done' sh")
                        .c_str()) != 0) {
        std::abort();
    }
    return root;
}

void BM_FlatFolderCapture(benchmark::State& state)
{
    const std::string root = flatFolder(static_cast<int>(state.range(0)));
    xmlNodePtr node = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("saveJob"));
    for (auto _ : state) {
        state.PauseTiming();
        (void)std::system(("rm -rf '" + root + "/xpaths/tmp_cloningData/cloningExport' && mkdir -p '" + root +
                           "/xpaths/tmp_cloningData/cloningExport/data'")
                              .c_str());
        CloneCreator creator(const_cast<char*>("/tmp"));
        state.ResumeTiming();
        if (!creator.cloneCopySaveJobHelper(node)) {
            state.SkipWithError("capture failed");
            break;
        }
    }
    xmlFreeNode(node);
}
void BM_FlatFolderCpA(benchmark::State& state)
{
    const std::string root = flatFolder(static_cast<int>(state.range(0)));
    const std::string copy = "cp -a '" + root + kJobs + "' '" + root + "/copy'";
    for (auto _ : state) {
        state.PauseTiming();
        (void)std::system(("rm -rf '" + root + "/copy'").c_str());
        state.ResumeTiming();
        if (std::system(copy.c_str()) != 0) {
            state.SkipWithError("cp failed");
            break;
        }
    }
}
BENCHMARK(BM_FlatFolderCapture)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlatFolderCpA)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// What the command time limit costs a command: the runner polls for the shell's end, system()
// blocks on it. Arg: how long the command runs, in milliseconds (0: "true").
void runFor(benchmark::State& state, int (*run)(const char*))
{
    const std::string command = state.range(0) == 0 ? "true" : "sleep " + std::to_string(state.range(0) / 1000.0);
    for (auto _ : state) {
        if (run(command.c_str()) != 0) {
            state.SkipWithError("command failed");
            break;
        }
    }
}
void BM_RunCommand(benchmark::State& state)
{
    runFor(state, [](const char* command) { return cloneutil::runCommand(command); });
}
void BM_System(benchmark::State& state)
{
    runFor(state, [](const char* command) { return std::system(command); });
}
BENCHMARK(BM_RunCommand)->Arg(0)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_System)->Arg(0)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
