#include "MeshFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <cstdio>
#include <memory>
#include <utility>

#include <orvane/PhotosBase.h>

#include "Zip.h"

namespace orvane_cli {

namespace {

void AppendFloat(std::string& out, float value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

void AppendInt(std::string& out, int64_t value)
{
    char text[24];
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

void AppendObject(std::string& out, const Orvanes::OrvaneMesh& mesh, int objectId, int materialIndex,
                  const std::string& name)
{
    // Renumber the referenced vertices in first-use order; 3MF readers reject stray ones.
    std::vector<int32_t> newIndex(mesh.vertices.size(), -1);
    std::vector<int32_t> order;
    order.reserve(mesh.vertices.size());
    for (const auto& face : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            int32_t& slot = newIndex[static_cast<size_t>(face[k])];
            if (slot < 0) {
                slot = static_cast<int32_t>(order.size());
                order.push_back(face[k]);
            }
        }

    out += "  <object id=\"";
    AppendInt(out, objectId);
    out += "\" type=\"model\" name=\"" + XmlEscaped(name) + "\" pid=\"1\" pindex=\"";
    AppendInt(out, materialIndex);
    out += "\">\n   <mesh>\n    <vertices>\n";
    for (const int32_t index : order) {
        const auto& v = mesh.vertices[static_cast<size_t>(index)];
        out += "     <vertex x=\"";
        AppendFloat(out, v[0]);
        out += "\" y=\"";
        AppendFloat(out, v[1]);
        out += "\" z=\"";
        AppendFloat(out, v[2]);
        out += "\"/>\n";
    }
    out += "    </vertices>\n    <triangles>\n";
    for (const auto& face : mesh.faces) {
        out += "     <triangle v1=\"";
        AppendInt(out, newIndex[static_cast<size_t>(face[0])]);
        out += "\" v2=\"";
        AppendInt(out, newIndex[static_cast<size_t>(face[1])]);
        out += "\" v3=\"";
        AppendInt(out, newIndex[static_cast<size_t>(face[2])]);
        out += "\"/>\n";
    }
    out += "    </triangles>\n   </mesh>\n  </object>\n";
}

}  // namespace

std::string WriteStl(OutputFolder& folder, const std::string& name, Orvanes::OrvaneMesh mesh)
{
    const auto faceCount = static_cast<int64_t>(mesh.faces.size());
    int size = 0;
    const std::unique_ptr<const char[]> bytes(Orvanes::PhotosBase().GetSTLStream(std::move(mesh), size));
    return folder.Write(name, "stl", bytes.get(), static_cast<size_t>(size), faceCount);
}

std::string ThreeMfModelXml(const std::vector<ColouredMesh>& meshes)
{
    std::size_t faceCount = 0;
    for (const ColouredMesh& m : meshes) faceCount += m.mesh->faces.size() + m.mesh->vertices.size();
    std::string out;
    out.reserve(faceCount * 60 + 1024);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<model unit=\"millimeter\" xml:lang=\"en-US\" "
           "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n"
           " <resources>\n  <basematerials id=\"1\">\n";
    for (const ColouredMesh& m : meshes) {
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02X%02X%02X", m.red, m.green, m.blue);
        out += "   <base name=\"" + XmlEscaped(m.name) + "\" displaycolor=\"" + colour + "\"/>\n";
    }
    out += "  </basematerials>\n";
    std::vector<int> objectIds;
    for (size_t i = 0; i < meshes.size(); ++i) {
        if (meshes[i].mesh->faces.empty()) continue;
        const int id = static_cast<int>(i) + 2;
        AppendObject(out, *meshes[i].mesh, id, static_cast<int>(i), meshes[i].name);
        objectIds.push_back(id);
    }
    // The meshes may reach below the bed (voxel meshes hang from z = 0): one lift for all keeps
    // the colours in register and puts the lowest of them on the bed.
    float lowest = std::numeric_limits<float>::infinity();
    for (const ColouredMesh& m : meshes)
        for (const auto& face : m.mesh->faces)
            for (int k = 0; k < 3; ++k) lowest = std::min(lowest, m.mesh->vertices[static_cast<size_t>(face[k])][2]);
    std::string transform;
    if (std::isfinite(lowest) && lowest != 0.0f) {
        transform = " transform=\"1 0 0 0 1 0 0 0 1 0 0 ";
        AppendFloat(transform, -lowest);
        transform += "\"";
    }
    out += " </resources>\n <build>\n";
    for (const int id : objectIds) {
        out += "  <item objectid=\"";
        AppendInt(out, id);
        out += "\"" + transform + "/>\n";
    }
    out += " </build>\n</model>\n";
    return out;
}

std::string ThreeMfPackage(const std::vector<ColouredMesh>& meshes)
{
    std::vector<ZipEntry> entries;
    entries.push_back({"[Content_Types].xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                       "<Default Extension=\"rels\" "
                       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                       "<Default Extension=\"model\" "
                       "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
                       "</Types>\n"});
    entries.push_back({"_rels/.rels",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
                       "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
                       "</Relationships>\n"});
    entries.push_back({"3D/3dmodel.model", ThreeMfModelXml(meshes)});
    return StoredZip(entries);
}

}  // namespace orvane_cli
