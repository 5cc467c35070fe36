#include "MeshFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include <orvane/PhotosBase.h>
#include <orvane/StlFacets.h>

#include "BothEnds.h"
#include "Zip.h"

namespace orvane_cli {

namespace {

template <typename Number> void AppendNumber(std::string& out, Number value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

std::string XmlEscaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Hex(uint8_t red, uint8_t green, uint8_t blue)
{
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02X%02X%02X", red, green, blue);
    return colour;
}

// Hands an entry's text to the archive a piece at a time: the model of a large mesh is hundreds
// of megabytes of text, which is never held whole.
class ChunkedEntry {
public:
    ChunkedEntry(ZipWriter& archive, const std::string& name) : zip(archive) { zip.Begin(name); }
    std::string& Text() { return text; }
    void FlushWhenFull()
    {
        if (text.size() >= kChunk) Flush();
    }
    void End()
    {
        Flush();
        zip.End();
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    void Flush()
    {
        zip.Append(text.data(), text.size());
        text.clear();
    }
    ZipWriter& zip;
    std::string text;
};

// The referenced vertices of a mesh in first-use order: 3MF readers reject stray vertices.
struct Renumbering {
    std::vector<int32_t> newIndex;  // by old index; -1 for unreferenced vertices
    std::vector<int32_t> order;     // old indices by new index
};

Renumbering Renumber(const Orvanes::OrvaneMesh& mesh)
{
    Renumbering r;
    r.newIndex.assign(mesh.vertices.size(), -1);
    for (const auto& face : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            int32_t& slot = r.newIndex[static_cast<size_t>(face[k])];
            if (slot < 0) {
                slot = static_cast<int32_t>(r.order.size());
                r.order.push_back(face[k]);
            }
        }
    return r;
}

void Validate(const ThreeMfProject& project)
{
    int lastExtruder = 0;
    for (const ThreeMfPart& part : project.parts) {
        if (!part.mesh) throw std::invalid_argument("3MF part " + part.name + " has no mesh");
        if (part.extruder < 1) throw std::invalid_argument("3MF part " + part.name + " has no extruder");
        if (lastExtruder && part.extruder != lastExtruder && !project.colourChanges.empty())
            throw std::invalid_argument("colour changes apply to a print on one extruder only");
        lastExtruder = part.extruder;
    }
}

std::vector<const ThreeMfPart*> PrintedParts(const ThreeMfProject& project)
{
    std::vector<const ThreeMfPart*> printed;
    for (const ThreeMfPart& part : project.parts)
        if (!part.mesh->faces.empty()) printed.push_back(&part);
    return printed;
}

// Where the object goes on the bed: one move for all parts keeps them in register. Voxel
// meshes may reach below the bed (they hang from z = 0): the lowest goes onto it. Slicers keep
// a project's positions, so the object goes to the middle of a 200 mm bed (the slicer's own
// default, and within any bed from 180 mm for prints up to 160 mm) instead of the corner, where
// part of it would hang off and its skirt could not be printed. The move is in the vertices: a
// build item's transform reached only the first part in PrusaSlicer 2.5, which took the others
// out of register.
Eigen::Vector3f Placement(const std::vector<const ThreeMfPart*>& parts)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    Eigen::Vector3f lowest = Eigen::Vector3f::Constant(kInfinity), highest = Eigen::Vector3f::Constant(-kInfinity);
    for (const ThreeMfPart* part : parts)
        for (const auto& face : part->mesh->faces)
            for (int k = 0; k < 3; ++k) {
                const Eigen::Vector3f& v = part->mesh->vertices[static_cast<size_t>(face[k])];
                lowest = lowest.cwiseMin(v);
                highest = highest.cwiseMax(v);
            }
    if (!lowest.allFinite() || !highest.allFinite()) return Eigen::Vector3f::Zero();
    constexpr float kBedMiddle = 100.0f;
    return {kBedMiddle - 0.5f * (lowest[0] + highest[0]), kBedMiddle - 0.5f * (lowest[1] + highest[1]), -lowest[2]};
}

// Returns how many were written.
int64_t WriteVertices(ChunkedEntry& entry, const Orvanes::OrvaneMesh& mesh, const Eigen::Vector3f& move)
{
    std::string& out = entry.Text();
    const std::vector<int32_t> order = Renumber(mesh).order;
    for (const int32_t index : order) {
        const Eigen::Vector3f v = mesh.vertices[static_cast<size_t>(index)] + move;
        out += "     <vertex x=\"";
        AppendNumber(out, v[0]);
        out += "\" y=\"";
        AppendNumber(out, v[1]);
        out += "\" z=\"";
        AppendNumber(out, v[2]);
        out += "\"/>\n";
        entry.FlushWhenFull();
    }
    return static_cast<int64_t>(order.size());
}

// material: the part's base material; the first part's is the object's own and goes unsaid.
// The group is named on each triangle too: lib3mf reads p1 alone as the object's default.
void WriteTriangles(ChunkedEntry& entry, const Orvanes::OrvaneMesh& mesh, int64_t firstVertex, int material)
{
    const std::vector<int32_t> newIndex = Renumber(mesh).newIndex;
    std::string& out = entry.Text();
    for (const auto& face : mesh.faces) {
        out += "     <triangle";
        for (int k = 0; k < 3; ++k) {
            out += k == 0 ? " v1=\"" : k == 1 ? "\" v2=\"" : "\" v3=\"";
            AppendNumber(out, firstVertex + newIndex[static_cast<size_t>(face[k])]);
        }
        out += "\"";
        if (material > 0) {
            out += " pid=\"1\" p1=\"";
            AppendNumber(out, material);
            out += "\"";
        }
        out += "/>\n";
        entry.FlushWhenFull();
    }
}

// The base materials and the object: part k's triangles take base material k.
void WriteObject(ChunkedEntry& entry, const std::string& objectName, const std::vector<const ThreeMfPart*>& parts)
{
    std::string& out = entry.Text();
    out += "  <basematerials id=\"1\">\n";
    for (const ThreeMfPart* part : parts)
        out += "   <base name=\"" + XmlEscaped(part->name) + "\" displaycolor=\"" +
               Hex(part->red, part->green, part->blue) + "\"/>\n";
    out += "  </basematerials>\n  <object id=\"2\" type=\"model\" name=\"" + XmlEscaped(objectName) +
           "\" pid=\"1\" pindex=\"0\">\n   <mesh>\n    <vertices>\n";
    std::vector<int64_t> firstVertex{0};
    const Eigen::Vector3f move = Placement(parts);
    for (const ThreeMfPart* part : parts) firstVertex.push_back(firstVertex.back() + WriteVertices(entry, *part->mesh, move));
    out += "    </vertices>\n    <triangles>\n";
    for (size_t k = 0; k < parts.size(); ++k)
        WriteTriangles(entry, *parts[k]->mesh, firstVertex[k], static_cast<int>(k));
    out += "    </triangles>\n   </mesh>\n  </object>\n";
}

void WriteModel(ZipWriter& zip, const std::string& objectName, const std::vector<const ThreeMfPart*>& parts)
{
    ChunkedEntry entry(zip, "3D/3dmodel.model");
    std::string& out = entry.Text();
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<model unit=\"millimeter\" xml:lang=\"en-US\" "
           "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n <resources>\n";
    // Nothing to print leaves a valid model without objects.
    if (!parts.empty()) WriteObject(entry, objectName, parts);
    out += " </resources>\n <build>\n";
    if (!parts.empty()) {
        out += "  <item objectid=\"2\"/>\n";
    }
    out += " </build>\n</model>\n";
    entry.End();
}

// PrusaSlicer reads one object's parts as volumes over consecutive triangle ranges of its mesh.
std::string ModelConfig(const std::string& objectName, const std::vector<const ThreeMfPart*>& parts)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n <object id=\"2\" instances_count=\"1\">\n"
                      "  <metadata type=\"object\" key=\"name\" value=\"" + XmlEscaped(objectName) + "\"/>\n";
    std::size_t first = 0;
    for (const ThreeMfPart* part : parts) {
        const std::size_t last = first + part->mesh->faces.size() - 1;
        out += "  <volume firstid=\"" + std::to_string(first) + "\" lastid=\"" + std::to_string(last) + "\">\n"
               "   <metadata type=\"volume\" key=\"name\" value=\"" + XmlEscaped(part->name) + "\"/>\n"
               "   <metadata type=\"volume\" key=\"volume_type\" value=\"ModelPart\"/>\n"
               "   <metadata type=\"volume\" key=\"extruder\" value=\"" + std::to_string(part->extruder) + "\"/>\n"
               "  </volume>\n";
        first = last + 1;
    }
    return out + " </object>\n</config>\n";
}

// PrusaSlicer reads these as "; key = value" lines below a first line it skips; the lines must
// run unbroken to the end. It counts the extruders by their nozzle diameters: 0.4 mm, the nozzle
// the tool's size warnings assume.
std::string PrintConfig(const ThreeMfProject& project)
{
    int extruders = 0;
    for (const ThreeMfPart& part : project.parts) extruders = std::max(extruders, part.extruder);
    std::vector<std::string> colours(static_cast<size_t>(extruders));  // "": PrusaSlicer's default
    for (auto part = project.parts.rbegin(); part != project.parts.rend(); ++part)
        colours[static_cast<size_t>(part->extruder - 1)] = Hex(part->red, part->green, part->blue);
    std::string colourList, nozzles;
    for (int k = 0; k < extruders; ++k) {
        colourList += (k ? ";" : "") + colours[static_cast<size_t>(k)];
        nozzles += k ? ",0.4" : "0.4";
    }
    std::string out = "; written by orvane\n\n";
    const auto line = [&out](const char* key, const std::string& value) { out += std::string("; ") + key + " = " + value + "\n"; };
    const auto number = [](double value) {
        std::string text;
        AppendNumber(text, value);
        return text;
    };
    if (extruders > 0) {
        line("extruder_colour", colourList);
        line("filament_colour", colourList);
    }
    if (project.firstLayerHeight > 0) line("first_layer_height", number(project.firstLayerHeight));
    if (project.layerHeight > 0) line("layer_height", number(project.layerHeight));
    if (extruders > 0) line("nozzle_diameter", nozzles);
    return out;
}

// Colour changes as PrusaSlicer keeps them for a single-extruder print: type 0 is a colour change.
std::string ColourChanges(const std::vector<ColourChange>& changes)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<custom_gcodes_per_print_z>\n";
    for (const ColourChange& change : changes) {
        out += " <code print_z=\"";
        AppendNumber(out, change.printZ);
        out += "\" type=\"0\" extruder=\"1\" color=\"" + Hex(change.red, change.green, change.blue) +
               "\" extra=\"\" gcode=\"M600\"/>\n";
    }
    return out + " <mode value=\"SingleExtruder\"/>\n</custom_gcodes_per_print_z>\n";
}

}  // namespace

std::string WriteStl(OutputFolder& folder, const std::string& name, Orvanes::OrvaneMesh mesh)
{
    const auto faceCount = static_cast<int64_t>(mesh.faces.size());
    // The stream is one block of at most 2^31 - 1 bytes: 84 of header and 50 per triangle. The
    // run's other files are not in place yet, so refusing here leaves nothing behind.
    constexpr int64_t kMostTriangles = (std::numeric_limits<int32_t>::max() - 84) / 50;
    if (faceCount > kMostTriangles)
        throw std::runtime_error(name + " would hold " + std::to_string(faceCount) + " triangles; an STL file holds at "
                                 "most " + std::to_string(kMostTriangles) + " here: use a larger --pixel-size, or "
                                 "the 3MF file (leave it out of --only)");
    // The library's STL bytes, filled in bands on the cores (--threads).
    const auto faces = static_cast<size_t>(faceCount);
    const size_t size = 84 + 50 * faces;
    const std::unique_ptr<char[]> bytes(new char[size]);
    Orvanes::WriteStlHeader(faces, bytes.get());
    constexpr size_t kBand = 1 << 16;
    OnCores((faces + kBand - 1) / kBand, [&](size_t band) {
        const size_t first = band * kBand, last = std::min(faces, first + kBand);
        Orvanes::WriteStlFacets(mesh, first, last, bytes.get() + 84 + 50 * first);
    });
    mesh = Orvanes::OrvaneMesh();  // released before the file is written
    return folder.Write(name, "stl", bytes.get(), size, faceCount);
}

ThreeMfPart PartOf(const std::string& name, const Orvanes::OrvaneMesh* mesh, const Eigen::Vector4f& entry, int extruder)
{
    return {name, mesh, static_cast<uint8_t>(entry[2]), static_cast<uint8_t>(entry[1]), static_cast<uint8_t>(entry[0]),
            extruder};
}

ColourChange ChangeTo(double printZ, const Eigen::Vector4f& entry)
{
    return {printZ, static_cast<uint8_t>(entry[2]), static_cast<uint8_t>(entry[1]), static_cast<uint8_t>(entry[0])};
}

std::string ThreeMfPackage(const ThreeMfProject& project)
{
    Validate(project);
    const std::vector<const ThreeMfPart*> parts = PrintedParts(project);
    ZipWriter zip;
    zip.Add("[Content_Types].xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"model\" ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
            "</Types>\n");
    zip.Add("_rels/.rels",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
            "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
            "</Relationships>\n");
    WriteModel(zip, project.objectName, parts);
    zip.Add("Metadata/Slic3r_PE.config", PrintConfig(project));
    zip.Add("Metadata/Slic3r_PE_model.config", ModelConfig(project.objectName, parts));
    if (!project.colourChanges.empty())
        zip.Add("Metadata/Prusa_Slicer_custom_gcode_per_print_z.xml", ColourChanges(project.colourChanges));
    return zip.Finish();
}

}  // namespace orvane_cli
