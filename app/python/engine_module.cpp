// vellumar._engine: the run driver, its option struct, the names it gives and
// the picture facts --info prints, for the Python package around it. Paths
// cross as bytes (the file system's own), so any name round-trips. The GIL is
// released while pictures are read or converted.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/option_table.h"
#include "app/batch/picture_facts.h"
#include "app/batch/run_driver.h"
#include "app/batch/source_list.h"
#include "app/format_table/format_table.h"
#include "core/vx_save_path.h"

namespace py = pybind11;
using vellumar::batch::FolderLock;
using vellumar::batch::FolderLocking;
using vellumar::batch::OptionError;
using vellumar::batch::OptionKind;
using vellumar::batch::RunOption;
using vellumar::batch::RunOptions;

namespace {

struct FailedRow {
    int row = 0;
    std::string stage;  // "decode" or "encode"
    std::string reason;
};

struct HeldFolder {
    std::unique_ptr<FolderLock> lock;
};

struct Summary {
    std::string refusal;
    int converted = 0;
    int skipped = 0;
    int failed = 0;
    bool stoppedEarly = false;
    std::vector<FailedRow> failures;
    std::vector<std::vector<std::string>> notes;  // what each row's output lost, by row - 1
};

Summary Run(const std::vector<std::string>& sources, const RunOptions& options) {
    Summary summary;
    vellumar::batch::RunCallbacks callbacks;
    // Called on this thread without the GIL: only C++ is touched here.
    callbacks.onRowDone = [&](int row, const vellumar::batch::RowResult& r) {
        if (summary.notes.size() < size_t(row)) summary.notes.resize(size_t(row));
        summary.notes[size_t(row - 1)] = r.notes;
        if (r.outcome == vellumar::batch::RowOutcome::Done) return;
        if (r.outcome == vellumar::batch::RowOutcome::Skipped) {
            ++summary.skipped;
            return;
        }
        summary.failures.push_back(
            {row, r.outcome == vellumar::batch::RowOutcome::DecodeFailed ? "decode" : "encode",
             vellumar::batch::RowReason(r)});
    };
    vellumar::batch::RunSummary s;
    {
        py::gil_scoped_release unlocked;
        s = vellumar::batch::RunRows(sources, options, callbacks);
    }
    summary.refusal = s.refusal;
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
    d["sample_bits"] = facts.sampleBits;
    d["frames"] = facts.frames;
    d["dpi"] = py::make_tuple(facts.xdpi, facts.ydpi);
    if (!facts.camera.empty()) d["camera"] = facts.camera;
    return py::make_tuple(true, d);
}

// max_memory for --max-memory.
std::string PythonName(const RunOption& option) {
    std::string name = option.name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

// A Python value checked and stored by the option table: a flag takes a bool,
// a number an int, a text a str, bytes or path (as the file system encodes it),
// or an int or float where the text is a decimal number.
void SetOption(RunOptions& run, const RunOption& option, py::handle value) {
    const std::string name = PythonName(option);
    const auto refuse = [&](const std::string& detail = {}) {
        throw py::value_error(OptionError(name, option, detail));
    };
    const bool isBool = PyBool_Check(value.ptr());
    switch (option.kind) {
        case OptionKind::Flag:
            if (!isBool) refuse();
            vellumar::batch::SetFlag(run, option, value.cast<bool>());
            return;
        case OptionKind::Number: {
            if (isBool || !PyLong_Check(value.ptr())) refuse();
            const unsigned long long v = PyLong_AsUnsignedLongLong(value.ptr());
            if (PyErr_Occurred()) {
                PyErr_Clear();  // negative or beyond 64 bits
                refuse();
            }
            if (!vellumar::batch::SetNumber(run, option, v)) refuse();
            return;
        }
        case OptionKind::Text: {
            std::string text;
            if (option.decimal && !isBool && (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()))) {
                text = py::str(value).cast<std::string>();
                std::string detail;
                if (!vellumar::batch::SetFromText(run, option, text, detail)) refuse(detail);
                return;
            }
            try {
                text = py::module_::import("os").attr("fsencode")(value).cast<std::string>();
            } catch (const py::error_already_set&) {
                refuse();  // neither text nor a path
            }
            std::string detail;
            if (!vellumar::batch::SetFromText(run, option, text, detail)) refuse(detail);
            return;
        }
    }
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
    m.doc() = "The Vellumar engine; use the vellumar package around it.";

    auto options = py::class_<RunOptions>(m, "RunOptions")
        .def(py::init<>())
        .def_readwrite("target", &RunOptions::target)
        .def_readwrite("extension", &RunOptions::extension)
        .def_readwrite("out_dir", &RunOptions::outDir)
        .def_readwrite("outputs", &RunOptions::outputs)
        .def_readwrite("temporary_tag", &RunOptions::temporaryTag)
        .def_readwrite("source_dirs", &RunOptions::sourceDirs)
        // "exclusive" (a run), "shared" (single files), "none" (a share of a
        // distributed run whose caller holds the folder).
        .def_property(
            "folder_locking",
            [](const RunOptions& o) {
                return o.folderLocking == FolderLocking::Exclusive ? "exclusive"
                       : o.folderLocking == FolderLocking::Shared  ? "shared"
                                                                    : "none";
            },
            [](RunOptions& o, const std::string& mode) {
                if (mode == "exclusive") o.folderLocking = FolderLocking::Exclusive;
                else if (mode == "shared") o.folderLocking = FolderLocking::Shared;
                else if (mode == "none") o.folderLocking = FolderLocking::None;
                else throw py::value_error("folder_locking needs exclusive, shared or none");
            });
    // The options a caller sets: one attribute each, checked by the option
    // table as the command line checks it, refused with its words.
    for (const RunOption& o : vellumar::batch::RunOptionTable()) {
        const std::string name = PythonName(o);
        options.def_property(
            name.c_str(),
            [&o](const RunOptions& run) -> py::object {
                if (!o.get) return py::none();
                const std::string v = o.get(run);
                switch (o.kind) {
                    case OptionKind::Flag: return py::bool_(v == "true");
                    case OptionKind::Number: return py::int_(std::stoull(v));
                    case OptionKind::Text: break;
                }
                // As it was given: text the file system's encoding gave bytes.
                return py::module_::import("os").attr("fsdecode")(py::bytes(v));
            },
            [&o](RunOptions& run, py::handle value) { SetOption(run, o, value); });
    }
    m.def("option_names", [] {
        std::vector<std::string> names;
        for (const RunOption& o : vellumar::batch::RunOptionTable()) names.push_back(PythonName(o));
        return names;
    }, "The keyword options convert() takes.");

    py::class_<FailedRow>(m, "FailedRow")
        .def_readonly("row", &FailedRow::row)
        .def_readonly("stage", &FailedRow::stage)
        .def_readonly("reason", &FailedRow::reason);
    py::class_<Summary>(m, "Summary")
        .def_readonly("refusal", &Summary::refusal)
        .def_readonly("converted", &Summary::converted)
        .def_readonly("skipped", &Summary::skipped)
        .def_readonly("failed", &Summary::failed)
        .def_readonly("stopped_early", &Summary::stoppedEarly)
        .def_readonly("failures", &Summary::failures)
        .def_readonly("notes", &Summary::notes);

    m.def("target", [](const std::string& name) -> std::optional<py::tuple> {
        const char* item = vellumar::FindTargetItem(name);
        if (!item) return std::nullopt;
        const vellumar::batch::Target t = vellumar::batch::TargetFromItem(item);
        return py::make_tuple(t.format, t.extension);
    }, "(format code, extension) of a target name such as 'png', or None.");
    m.def("target_names", [] {
        std::vector<std::string> names;
        for (const char* item : vellumar::TargetItems()) names.emplace_back(item + 2);
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
    // A distributed run's caller holds its output folder while the workers write.
    py::class_<HeldFolder>(m, "HeldFolder")
        .def("__enter__", [](HeldFolder& self) -> HeldFolder& { return self; })
        .def("__exit__", [](HeldFolder& self, py::args) {
            self.lock.reset();
            return false;
        });
    m.def("lock_folder", [](const std::string& folder) {
        HeldFolder held;
        std::string why;
        held.lock = FolderLock::Take(folder, FolderLocking::Exclusive, why);
        if (!held.lock) throw std::runtime_error(why);
        return held;
    }, py::arg("folder"), "Holds the folder for a run until the with block ends.");
    m.def("remove_temporaries", &VxRemoveTemporaries, py::arg("folder"), py::arg("tag"),
          py::call_guard<py::gil_scoped_release>());
}
