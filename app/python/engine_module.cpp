// vellumar._engine: the run driver, its option struct, the names it gives and
// the picture facts --info prints, for the Python package around it. Paths
// cross as bytes (the file system's own), so any name round-trips. The GIL is
// released while pictures are read or converted.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/picture_facts.h"
#include "app/batch/run_driver.h"
#include "app/batch/source_list.h"
#include "app/format_table/format_table.h"
#include "core/vx_save_path.h"

namespace py = pybind11;
using vellumar::batch::RunOptions;

namespace {

struct FailedRow {
    int row = 0;
    std::string stage;  // "decode" or "encode"
    std::string reason;
};

struct Summary {
    int converted = 0;
    int failed = 0;
    bool stoppedEarly = false;
    std::vector<FailedRow> failures;
};

Summary Run(const std::vector<std::string>& sources, const RunOptions& options) {
    Summary summary;
    vellumar::batch::RunCallbacks callbacks;
    // Called on this thread without the GIL: only C++ is touched here.
    callbacks.onRowDone = [&](int row, const vellumar::batch::RowResult& r) {
        if (r.outcome == vellumar::batch::RowOutcome::Done) return;
        summary.failures.push_back(
            {row, r.outcome == vellumar::batch::RowOutcome::DecodeFailed ? "decode" : "encode",
             vellumar::batch::RowReason(r)});
    };
    vellumar::batch::RunSummary s;
    {
        py::gil_scoped_release unlocked;
        s = vellumar::batch::RunRows(sources, options, callbacks);
    }
    summary.converted = s.converted;
    summary.failed = s.failed;
    summary.stoppedEarly = s.stoppedEarly;
    return summary;
}

// What --info prints for one file; the reason when it cannot be read.
py::object Info(const std::string& path, int frame, uint64_t maxPixels) {
    vellumar::batch::PictureFacts facts;
    {
        py::gil_scoped_release unlocked;
        facts = vellumar::batch::ReadPictureFacts(path, frame, maxPixels);
    }
    if (!facts.ok) return py::make_tuple(false, facts.error);
    py::dict d;
    d["format"] = facts.format;
    d["width"] = facts.width;
    d["height"] = facts.height;
    d["bpp"] = facts.bpp;
    d["frames"] = facts.frames;
    d["dpi"] = py::make_tuple(facts.xdpi, facts.ydpi);
    return py::make_tuple(true, d);
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
    m.doc() = "The Vellumar engine; use the vellumar package around it.";

    py::class_<RunOptions>(m, "RunOptions")
        .def(py::init<>())
        .def_readwrite("target", &RunOptions::target)
        .def_readwrite("extension", &RunOptions::extension)
        .def_readwrite("out_dir", &RunOptions::outDir)
        .def_readwrite("prefix", &RunOptions::prefix)
        .def_readwrite("outputs", &RunOptions::outputs)
        .def_readwrite("temporary_tag", &RunOptions::temporaryTag)
        .def_readwrite("quality", &RunOptions::quality)
        .def_readwrite("frame", &RunOptions::frame)
        .def_readwrite("max_pixels", &RunOptions::maxPixels)
        .def_readwrite("keep_going", &RunOptions::keepGoing)
        .def_readwrite("jobs", &RunOptions::jobs)
        .def_readwrite("max_memory", &RunOptions::maxMemory)
        .def_readwrite("source_dirs", &RunOptions::sourceDirs)
        // The picture options take the command line's spellings and refuse
        // what it refuses, with its words.
        .def_property(
            "name", [](const RunOptions& o) { return o.nameTemplate; },
            [](RunOptions& o, const std::string& pattern) {
                const std::string why = vellumar::batch::CheckNameTemplate(pattern);
                if (!why.empty()) throw py::value_error("name: " + why);
                o.nameTemplate = pattern;
            })
        .def_property("resize", nullptr,
                      [](RunOptions& o, const std::string& text) {
                          if (!vx::ParseResizeRequest(text, o.steps.resize))
                              throw py::value_error("resize needs WxH, WxH+, Wx, xH or N%");
                      })
        .def_property(
            "palette",
            [](const RunOptions& o) {
                return o.steps.colours.palette == vx::PaletteChoice::Adaptive ? "adaptive"
                                                                              : "standard";
            },
            [](RunOptions& o, const std::string& text) {
                if (!vx::ParsePaletteChoice(text, o.steps.colours.palette))
                    throw py::value_error("palette needs standard or adaptive");
            })
        .def_property(
            "dither",
            [](const RunOptions& o) {
                return o.steps.colours.dither == vx::DitherChoice::None ? "none"
                                                                       : "floyd-steinberg";
            },
            [](RunOptions& o, const std::string& text) {
                if (!vx::ParseDitherChoice(text, o.steps.colours.dither))
                    throw py::value_error("dither needs none or floyd-steinberg");
            })
        .def_property(
            "keep_orientation", [](const RunOptions& o) { return o.steps.keepOrientation; },
            [](RunOptions& o, bool keep) { o.steps.keepOrientation = keep; })
        .def_property(
            "strip", [](const RunOptions& o) { return o.steps.strip; },
            [](RunOptions& o, bool strip) { o.steps.strip = strip; });

    py::class_<FailedRow>(m, "FailedRow")
        .def_readonly("row", &FailedRow::row)
        .def_readonly("stage", &FailedRow::stage)
        .def_readonly("reason", &FailedRow::reason);
    py::class_<Summary>(m, "Summary")
        .def_readonly("converted", &Summary::converted)
        .def_readonly("failed", &Summary::failed)
        .def_readonly("stopped_early", &Summary::stoppedEarly)
        .def_readonly("failures", &Summary::failures);

    m.def("target", [](const std::string& name) -> std::optional<py::tuple> {
        const char* item = vellumar::FindTargetItem(name);
        if (!item) return std::nullopt;
        const vellumar::batch::Target t = vellumar::batch::TargetFromItem(item);
        return py::make_tuple(t.format, t.extension);
    }, "(format code, extension) of a target name such as 'png', or None.");
    m.def("target_names", [] {
        std::vector<std::string> names;
        for (const char* item : vellumar::kTargetItems) names.emplace_back(item + 2);
        return names;
    });
    m.def("run", &Run, py::arg("sources"), py::arg("options"),
          "Converts the rows (paths as bytes) as the command line does.");
    m.def("plan_outputs", [](const RunOptions& options, const std::vector<std::string>& sources) {
        std::vector<std::pair<py::bytes, std::string>> plan;
        for (auto& row : vellumar::batch::PlanOutputs(options, sources))
            plan.emplace_back(py::bytes(row.path), row.why);
        return plan;
    }, "Each row's (output path, why it has none) as the run would name them.");
    m.def("list_sources", [](const std::vector<std::string>& names, bool recursive) {
        std::vector<std::pair<py::bytes, py::bytes>> rows;
        for (const auto& row : vellumar::batch::ListSources(names, recursive))
            rows.emplace_back(py::bytes(row.path), py::bytes(row.dir));
        return rows;
    }, "Rows (path, folder relative to the folder named) as the command line lists them.");
    m.def("info", &Info, py::arg("path"), py::arg("frame"), py::arg("max_pixels"));
    m.def("remove_temporaries", &VxRemoveTemporaries, py::arg("folder"), py::arg("tag"),
          py::call_guard<py::gil_scoped_release>());
}
