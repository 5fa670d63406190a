#include "unitprobe/SmartAttributes.h"

#include <nlohmann/json.hpp>

namespace tolvarin {

namespace SmartAttributes {

namespace {

using nlohmann::json;

// A whole number at a path of objects; nullopt for anything else.
std::optional<int64_t> integerAt(const json& root, std::initializer_list<const char*> path) {
    const json* node = &root;
    for (const char* key : path) {
        if (!node->is_object()) {
            return std::nullopt;
        }
        auto it = node->find(key);
        if (it == node->end()) {
            return std::nullopt;
        }
        node = &*it;
    }
    if (node->is_number_integer() || node->is_number_unsigned()) {
        return node->get<int64_t>();
    }
    return std::nullopt;
}

// smartctl's own words for why it read nothing.
std::string messagesOf(const json& root) {
    std::string text;
    if (root.contains("smartctl") && root["smartctl"].is_object() &&
        root["smartctl"].contains("messages") && root["smartctl"]["messages"].is_array()) {
        for (const json& m : root["smartctl"]["messages"]) {
            if (m.is_object() && m.contains("string") && m["string"].is_string()) {
                text += (text.empty() ? "" : "; ") + m["string"].get<std::string>();
            }
        }
    }
    return text;
}

} // namespace

SmartReading fromSmartctlJson(const std::string& text) {
    SmartReading reading;
    // Warnings may stand ahead of the JSON on the shared pipe.
    size_t brace = text.find('{');
    json root = json::parse(brace == std::string::npos ? std::string() : text.substr(brace),
                            nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        reading.problem = "smartctl printed no JSON";
        return reading;
    }
    auto put = [&](const char* name, std::optional<int64_t> value) {
        if (value) {
            reading.values[name] = *value;
        }
    };

    const json* table = nullptr;
    if (root.contains("ata_smart_attributes") && root["ata_smart_attributes"].is_object() &&
        root["ata_smart_attributes"].contains("table") &&
        root["ata_smart_attributes"]["table"].is_array()) {
        table = &root["ata_smart_attributes"]["table"];
    }
    if (table != nullptr) {
        for (const json& attribute : *table) {
            std::optional<int64_t> id = integerAt(attribute, {"id"});
            std::optional<int64_t> raw = integerAt(attribute, {"raw", "value"});
            if (!id || !raw) {
                continue;
            }
            switch (*id) {
            case 5:
                put("reallocatedSectors", raw);
                break;
            case 197:
                put("pendingSectors", raw);
                break;
            case 198:
                put("uncorrectableSectors", raw);
                break;
            case 199:
                put("crcErrors", raw);
                break;
            default:
                break;
            }
        }
    }
    put("mediaErrors", integerAt(root, {"nvme_smart_health_information_log", "media_errors"}));
    if (!reading.values.count("reallocatedSectors")) {
        put("reallocatedSectors", integerAt(root, {"scsi_grown_defect_list"}));
    }
    put("temperature", integerAt(root, {"temperature", "current"}));

    if (reading.values.empty()) {
        std::string messages = messagesOf(root);
        reading.problem = messages.empty() ? "smartctl read no attributes" : messages;
        return reading;
    }
    reading.available = true;
    return reading;
}

} // namespace SmartAttributes

} // namespace tolvarin
