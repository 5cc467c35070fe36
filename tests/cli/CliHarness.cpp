#include "CliHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

#include <Model/COM/NMR_DLLInterfaces.h>
#include <opencv2/imgcodecs.hpp>

#include "MeshChecks.h"

namespace cli_test {

namespace {

std::string Quoted(const std::string& word)
{
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void Check(LIB3MFRESULT result, const char* what)
{
    if (result != LIB3MF_OK) throw std::runtime_error(std::string("lib3mf: ") + what + " failed");
}

// Holds lib3mf handles and releases them, last taken first.
struct Lib3mfHandles {
    ~Lib3mfHandles()
    {
        for (auto p = taken.rbegin(); p != taken.rend(); ++p) NMR::lib3mf_release(*p);
    }
    template <typename T> T* Take(LIB3MFRESULT result, T** slot)  // reads *slot after the call filled it
    {
        Check(result, "taking a handle");
        taken.push_back(*slot);
        return *slot;
    }
    std::vector<NMR::PLib3MFBase*> taken;
};

std::string BaseMaterialText(NMR::PLib3MFModelBaseMaterial* materials, DWORD index, bool colour)
{
    char text[512] = {};
    ULONG needed = 0;
    BYTE rgba[4] = {};
    Check(colour ? NMR::lib3mf_basematerial_getdisplaycolor(materials, index, rgba, rgba + 1, rgba + 2, rgba + 3)
                 : NMR::lib3mf_basematerial_getnameutf8(materials, index, text, sizeof text, &needed),
          "reading a base material");
    if (colour) std::snprintf(text, sizeof text, "%02x%02x%02x", rgba[0], rgba[1], rgba[2]);
    return text;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::string& line, const std::filesystem::path& cwd)
{
    const std::filesystem::path out = cwd / ".tool-stdout", err = cwd / ".tool-stderr";
    std::string command = "cd " + Quoted(cwd.string()) + " && " + Quoted(program);
    std::istringstream words(line);
    for (std::string word; words >> word;) command += " " + Quoted(word);
    command += " </dev/null >" + Quoted(out.string()) + " 2>" + Quoted(err.string());
    const int raw = std::system(command.c_str());
    RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

RunResult RunTool(const std::string& line, const std::filesystem::path& cwd)
{
    return RunProgram(ORVANE_TOOL, line, cwd);
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> FileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Digests(const std::filesystem::path& folder)
{
    std::ostringstream lines;
    for (const std::string& name : FileNames(folder)) {
        std::string bytes = ReadText(folder / name);
        if (std::filesystem::path(name).extension() == ".png") {
            const cv::Mat pixels = cv::imread((folder / name).string(), cv::IMREAD_UNCHANGED);
            bytes.assign(pixels.ptr<char>(), pixels.total() * pixels.elemSize());
        }
        uint64_t hash = 14695981039346656037ull;
        for (const char c : bytes) hash = (hash ^ uint8_t(c)) * 1099511628211ull;
        lines << name << " " << std::hex << hash << std::dec << "\n";
    }
    return lines.str();
}

AdmeshReport Admesh(const std::filesystem::path& stl)
{
    const std::filesystem::path report = stl.string() + ".admesh";
    (void)std::system((Quoted(ADMESH_PROGRAM) + " " + Quoted(stl.string()) + " >" + Quoted(report.string()) + " 2>&1").c_str());
    const std::string text = ReadText(report);
    std::filesystem::remove(report);
    // The first figure after each label: the "Original" column, before admesh mended anything.
    const auto figure = [&text](const std::string& label) {
        std::smatch match;
        if (!std::regex_search(text, match, std::regex(label + R"(\s*[:=]\s*(-?[0-9.]+))"))) return std::nan("");
        return std::stod(match[1].str());
    };
    return {figure("Number of facets"), figure("Total disconnected facets"), figure("Facets reversed"),
            figure("Backwards edges"), figure("Normals fixed"), figure("Volume"), figure("Max Z")};
}

std::map<std::string, int64_t> ExpectListedFiles(const Json& files, const std::filesystem::path& cwd,
                                                 const std::filesystem::path& folder)
{
    std::map<std::string, int64_t> trianglesOf;
    std::vector<std::string> listed;
    for (const Json& file : files) {
        const std::filesystem::path path = cwd / file.at("path").get<std::string>();
        SCOPED_TRACE(path.string());
        listed.push_back(path.filename().string());
        EXPECT_EQ(path.parent_path(), folder);
        if (!std::filesystem::exists(path)) continue;  // the listing check below names it
        const std::string bytes = ReadText(path);
        EXPECT_EQ(bytes.size(), file.at("bytes").get<uint64_t>());
        if (file.at("kind") != "stl") continue;
        const int64_t triangles = trianglesOf[listed.back()] = file.at("triangles").get<int64_t>();
        if (triangles == 0) continue;
        EXPECT_EQ(orvane_test::StlFacetCount(bytes.data(), int64_t(bytes.size())), triangles);
        const AdmeshReport report = Admesh(path);
        EXPECT_EQ(report.facets, triangles);
        EXPECT_EQ(report.disconnectedFacets, 0) << "open edges";
        EXPECT_EQ(report.facetsReversed + report.backwardsEdges + report.normalsFixed, 0) << "wound inconsistently";
        EXPECT_GT(report.volume, 0.0);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(FileNames(folder), listed) << "missing, unlisted or temporary files";
    return trianglesOf;
}

std::vector<ThreeMfObject> ReadThreeMf(const std::filesystem::path& package)
{
    using namespace NMR;
    Lib3mfHandles lib;
    PLib3MFModel *model = nullptr, *mesh = nullptr, *item = nullptr, *handler = nullptr, *materials = nullptr;
    PLib3MFModelReader* reader = nullptr;
    lib.Take(lib3mf_createmodel(&model), &model);
    lib.Take(lib3mf_model_queryreader(model, "3mf", &reader), &reader);
    lib3mf_reader_setstrictmodeactive(reader, true);
    Check(lib3mf_reader_readfromfileutf8(reader, package.string().c_str()), "reading the package");
    DWORD warnings = 0;
    lib3mf_reader_getwarningcount(reader, &warnings);
    if (warnings != 0) throw std::runtime_error("lib3mf: " + std::to_string(warnings) + " warnings");
    std::vector<ThreeMfObject> objects;
    PLib3MFModelBuildItemIterator* items = nullptr;
    lib.Take(lib3mf_model_getbuilditems(model, &items), &items);
    for (BOOL hasNext = false; lib3mf_builditemiterator_movenext(items, &hasNext) == LIB3MF_OK && hasNext;) {
        lib.Take(lib3mf_builditemiterator_getcurrent(items, &item), &item);
        DWORD id = 0, vertexCount = 0, triangleCount = 0;
        Check(lib3mf_builditem_getobjectresourceid(item, &id), "getobjectresourceid");
        lib.Take(lib3mf_model_getmeshobjectbyid(model, id, &mesh), &mesh);
        lib.Take(lib3mf_meshobject_createpropertyhandler(mesh, &handler), &handler);
        ThreeMfObject object;
        char name[512] = {};
        ULONG needed = 0;
        Check(lib3mf_meshobject_getvertexcount(mesh, &vertexCount) | lib3mf_meshobject_gettrianglecount(mesh, &triangleCount) |
                  lib3mf_object_getnameutf8(mesh, name, sizeof name, &needed),
              "reading a mesh object");
        object.name = name;
        MODELTRANSFORM transform{};
        std::vector<MODELMESHVERTEX> vertices(vertexCount);
        std::vector<MODELMESHTRIANGLE> triangles(triangleCount);
        std::vector<DWORD> groups(triangleCount), indices(triangleCount);
        Check(lib3mf_builditem_getobjecttransform(item, &transform) |
                  lib3mf_meshobject_getvertices(mesh, vertices.data(), vertexCount, nullptr) |
                  lib3mf_meshobject_gettriangleindices(mesh, triangles.data(), triangleCount, nullptr) |
                  lib3mf_propertyhandler_getbasematerialarray(handler, groups.data(), indices.data()),
              "reading the mesh");
        const float* row = transform.m_fFields[2];
        float extent[2][2] = {{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()},
                              {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}};
        std::vector<bool> used(vertexCount);
        std::vector<std::pair<DWORD, DWORD>> edges;
        const auto closePart = [&] {
            if (object.parts.empty()) return;
            std::vector<std::pair<DWORD, DWORD>> reversed;
            for (const auto& [a, b] : edges) reversed.emplace_back(b, a);
            std::sort(edges.begin(), edges.end());
            std::sort(reversed.begin(), reversed.end());
            object.parts.back().manifold = edges == reversed && std::adjacent_find(edges.begin(), edges.end()) == edges.end();
            edges.clear();
        };
        for (DWORD t = 0; t < triangleCount; ++t) {
            if (t == 0 || groups[t] != groups[t - 1] || indices[t] != indices[t - 1]) {
                closePart();
                lib.Take(lib3mf_model_getbasematerialbyid(model, groups[t], &materials), &materials);
                object.parts.push_back({BaseMaterialText(materials, indices[t], false),
                                        BaseMaterialText(materials, indices[t], true), 0, 0,
                                        std::numeric_limits<float>::infinity()});
            }
            ThreeMfPart& part = object.parts.back();
            ++part.triangles;
            for (const DWORD v : triangles[t].m_nIndices) {
                const float* p = vertices[v].m_fPosition;
                part.lowestZ = std::min(part.lowestZ, row[0] * p[0] + row[1] * p[1] + row[2] * p[2] + row[3]);
                for (int axis = 0; axis < 2; ++axis) {
                    const float* along = transform.m_fFields[axis];
                    const float at = along[0] * p[0] + along[1] * p[1] + along[2] * p[2] + along[3];
                    extent[axis][0] = std::min(extent[axis][0], at);
                    extent[axis][1] = std::max(extent[axis][1], at);
                }
                if (!used[v]) ++part.vertices;
                used[v] = true;
            }
            for (int k = 0; k < 3; ++k) edges.emplace_back(triangles[t].m_nIndices[k], triangles[t].m_nIndices[(k + 1) % 3]);
        }
        closePart();
        object.middleX = 0.5f * (extent[0][0] + extent[0][1]);
        object.middleY = 0.5f * (extent[1][0] + extent[1][1]);
        objects.push_back(object);
    }
    return objects;
}

void ToolTest::SetUp()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / ("orvane-cli-" + std::string(info->test_suite_name()) + "-" +
                                                    info->name() + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
}

void ToolTest::TearDown()
{
    if (!HasFailure()) std::filesystem::remove_all(dir);
}

}  // namespace cli_test
