// velmora.models: the model catalogue (velmora/Models.h) as Python sees it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "Bindings.h"
#include "Convert.h"
#include "velmora/Models.h"

namespace velmora {
namespace python {

namespace {

using models::ModelInfo;

std::vector<std::size_t> slotsWhere(const ModelInfo& m, bool (ModelInfo::*has)(std::size_t) const) {
    std::vector<std::size_t> out;
    for (std::size_t s = 0; s < m.slots; ++s) {
        if ((m.*has)(s))
            out.push_back(s);
    }
    return out;
}

std::vector<std::string> jointTexts(const ModelInfo& m, std::string (*text)(VELMORA, std::size_t)) {
    std::vector<std::string> out;
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.carriesJoint(s))
            out.push_back(text(m.model, s));
    }
    return out;
}

std::vector<hand::Reading> readingsIn(std::uint32_t set) {
    std::vector<hand::Reading> out;
    for (hand::Reading r : models::kAllReadings) {
        if ((set & models::bit(r)) != 0)
            out.push_back(r);
    }
    return out;
}

std::vector<std::vector<std::size_t>> fingerJoints(const ModelInfo& m) {
    std::vector<std::vector<std::size_t>> out;
    for (const auto& finger : m.fingerJoints) {
        std::vector<std::size_t> slots;
        for (int s : finger) {
            if (s != models::kNoSlot)
                slots.push_back(static_cast<std::size_t>(s));
        }
        out.push_back(std::move(slots));
    }
    return out;
}

models::PoseName poseNamed(const std::string& name) {
    const auto pose = models::poseFromName(name);
    if (!pose)
        throw py::value_error("unknown pose '" + name + "': choose open, close or point");
    return *pose;
}

py::object referenceTo(const ModelInfo& m) {
    return py::cast(&m, py::return_value_policy::reference);
}

// One value per joint or per slot, as one per slot; None when the count fits neither.
py::object perSlot(VELMORA model, const py::object& values) {
    const auto slots = models::perSlot(model, toRadians(values, "values"));
    if (!slots)
        return py::none();
    return py::cast(*slots);
}

}  // namespace

void bindCatalogue(py::module_& parent) {
    auto m = parent.def_submodule(
        "models",
        "What every hand model is: names, slots and joints, fingers, readings, "
        "fingertip sensors, version report and poses.");

    py::enum_<models::VersionStyle>(m, "VersionStyle", "How a hand's version answer looks.")
        .value("REPORT", models::VersionStyle::Report)
        .value("FIELDS", models::VersionStyle::Fields)
        .value("NIBBLES", models::VersionStyle::Nibbles);

    py::class_<models::VersionReport>(m, "VersionReport")
        .def_readonly("style", &models::VersionReport::style)
        .def_readonly("code", &models::VersionReport::code)
        .def_readonly("length", &models::VersionReport::length)
        .def_readonly("degrees_of_freedom", &models::VersionReport::degreesOfFreedom)
        .def_readonly("identifier_code", &models::VersionReport::identifierCode);

    py::class_<models::Fingertips>(m, "Fingertips",
                                   "Fingertip sensors: fingers x rows x columns of the matrix "
                                   "sensor, and the values per finger of a summary sensor.")
        .def_readonly("fingers", &models::Fingertips::fingers)
        .def_readonly("rows", &models::Fingertips::rows)
        .def_readonly("columns", &models::Fingertips::columns)
        .def_readonly("summary_values", &models::Fingertips::summaryValues);

    // The catalogue is static: Python only ever holds references to it.
    py::class_<ModelInfo, std::unique_ptr<ModelInfo, py::nodelete>>(m, "ModelInfo",
                                                                    "One hand model's facts.")
        .def_readonly("model", &ModelInfo::model)
        .def_property_readonly("name", [](const ModelInfo& i) { return std::string(i.name); })
        .def_property_readonly("description",
                               [](const ModelInfo& i) { return std::string(i.description); })
        .def_property_readonly("class_name",
                               [](const ModelInfo& i) { return std::string(i.className); })
        .def_readonly("variant", &ModelInfo::variant)
        .def_readonly("degrees_of_freedom", &ModelInfo::degreesOfFreedom)
        .def_readonly("slots", &ModelInfo::slots, "Values of the position vector.")
        .def_readonly("joints", &ModelInfo::joints, "Slots that carry a joint.")
        .def_readonly("angle_table_key", &ModelInfo::angleTableKey,
                      "Key of its joint-angle tables (range_to_arc); 0 when it has none.")
        .def_property_readonly("has_angle_tables", &ModelInfo::hasAngleTables)
        .def_property_readonly(
            "joint_slots",
            [](const ModelInfo& i) { return slotsWhere(i, &ModelInfo::carriesJoint); },
            "The slot of each joint, in the order `state` shows them.")
        .def_property_readonly(
            "angle_slots", [](const ModelInfo& i) { return slotsWhere(i, &ModelInfo::hasAngle); },
            "The slots the joint-angle tables convert.")
        .def_property_readonly("joint_names",
                               [](const ModelInfo& i) { return jointTexts(i, &models::jointName); })
        .def_property_readonly(
            "joint_labels", [](const ModelInfo& i) { return jointTexts(i, &models::jointLabel); })
        .def_property_readonly("finger_joints", &fingerJoints,
                               "The flexion joints' slots of each finger, thumb first.")
        .def_property_readonly("readings",
                               [](const ModelInfo& i) { return readingsIn(i.readings); })
        .def_property_readonly("reported_readings",
                               [](const ModelInfo& i) { return readingsIn(i.reportedReadings); })
        .def_readonly("fingertips", &ModelInfo::fingertips)
        .def_readonly("version", &ModelInfo::version)
        .def_property_readonly("poses",
                               [](const ModelInfo& i) {
                                   py::dict poses;
                                   for (std::size_t p = 0; p < std::size(models::kPoseNames); ++p)
                                       poses[models::kPoseNames[p]] = toArray(
                                           models::pose(i.model, static_cast<models::PoseName>(p)));
                                   return poses;
                               })
        .def("has", &ModelInfo::has, py::arg("reading"),
             "True when it answers a request for this reading.")
        .def("reports", &ModelInfo::reports, py::arg("reading"))
        .def("carries_joint", &ModelInfo::carriesJoint, py::arg("slot"))
        .def("has_angle", &ModelInfo::hasAngle, py::arg("slot"))
        .def(
            "slot_of_joint",
            [](const ModelInfo& i, std::size_t joint) -> std::optional<std::size_t> {
                const int slot = i.slotOfJoint(joint);
                if (slot == models::kNoSlot)
                    return std::nullopt;
                return static_cast<std::size_t>(slot);
            },
            py::arg("joint"))
        .def(
            "pose",
            [](const ModelInfo& i, const std::string& name) {
                return toArray(models::pose(i.model, poseNamed(name)));
            },
            py::arg("name"), "The position vector of 'open', 'close' or 'point'.")
        .def(
            "per_slot",
            [](const ModelInfo& i, const py::object& values) { return perSlot(i.model, values); },
            py::arg("values"))
        .def_property_readonly("counts_taken",
                               [](const ModelInfo& i) { return models::countsTaken(i.model); })
        .def("__repr__", [](const ModelInfo& i) {
            return std::string("<velmora.models.ModelInfo ") + i.name + ": " + i.description + ">";
        });

    py::list all;
    for (const ModelInfo& info : models::kModels)
        all.append(referenceTo(info));
    m.attr("MODELS") = py::tuple(all);
    py::list fingers, poses;
    for (const char* name : models::kFingerNames)
        fingers.append(name);
    for (const char* name : models::kPoseNames)
        poses.append(name);
    m.attr("FINGER_NAMES") = py::tuple(fingers);
    m.attr("POSE_NAMES") = py::tuple(poses);

    m.def(
        "info", [](VELMORA model) { return referenceTo(models::info(model)); }, py::arg("model"));
    m.def(
        "from_name",
        [](const std::string& name) -> py::object {
            const auto model = models::modelFromName(name);
            return model ? referenceTo(models::info(*model)) : py::none();
        },
        py::arg("name"), "The model of a name (any case); None for a name no model has.");
    m.def(
        "model_from_name", [](const std::string& name) { return models::modelFromName(name); },
        py::arg("name"));
    m.def(
        "model_name", [](VELMORA model) { return std::string(models::modelName(model)); },
        py::arg("model"));
    m.def(
        "side_from_name",
        [](const std::string& name) -> std::optional<HAND_TYPE> {
            const auto side = models::sideFromName(name);
            if (!side)
                return std::nullopt;
            return static_cast<HAND_TYPE>(*side);
        },
        py::arg("name"));
    m.def(
        "side_name", [](std::uint32_t side) { return std::string(models::sideName(side)); },
        py::arg("side"));
    m.def("choices", &models::modelChoices, "The names a user may type, as one text.");
    m.def(
        "reading_name", [](hand::Reading r) { return std::string(models::readingName(r).name); },
        py::arg("reading"));
    m.def("per_slot", &perSlot, py::arg("model"), py::arg("values"),
          "Values given one per joint (in the order `state` shows them) or one per slot, as one "
          "per slot (0 for a slot without a joint); None when the count fits neither.");
    m.def(
        "counts_taken", [](VELMORA model) { return models::countsTaken(model); }, py::arg("model"),
        "What the position vector takes: \"takes 10 values, one per joint\".");

    py::enum_<models::Setting>(m, "Setting", "What a caller writes to a hand besides positions.")
        .value("SPEEDS", models::Setting::Speeds)
        .value("TORQUES", models::Setting::Torques)
        .value("CURRENTS", models::Setting::Currents)
        .value("CLEAR_FAULTS", models::Setting::ClearFaults)
        .value("ACCELERATIONS", models::Setting::Accelerations)
        .value("MOTOR_SWITCH", models::Setting::MotorSwitch);
    m.def(
        "setting_counts",
        [](VELMORA model, models::Setting setting) {
            std::vector<std::size_t> counts;
            for (std::size_t n = 0; n < 64; ++n) {
                if ((models::settingCounts(model, setting) >> n) & 1u)
                    counts.push_back(n);
            }
            return counts;
        },
        py::arg("model"), py::arg("setting"),
        "The value counts the model's class takes for a setting; empty when it has no setter.");
    m.def("setting_counts_taken", &models::settingCountsTaken, py::arg("model"), py::arg("setting"),
          "\"takes 5 or 10 values\"; empty when the model has no setter.");
}

}  // namespace python
}  // namespace velmora
