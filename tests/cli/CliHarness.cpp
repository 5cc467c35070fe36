#include "CliHarness.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

#include <Model/COM/NMR_DLLInterfaces.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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
class Lib3mfHandles {
public:
    ~Lib3mfHandles()
    {
        for (auto p = taken.rbegin(); p != taken.rend(); ++p) NMR::lib3mf_release(*p);
    }
    // Reads *slot only after the call that fills it has run.
    void Take(LIB3MFRESULT result, NMR::PLib3MFBase** slot, const char* what)
    {
        Check(result, what);
        taken.push_back(*slot);
    }

private:
    std::vector<NMR::PLib3MFBase*> taken;
};

class JsonParser {
public:
    explicit JsonParser(const std::string& t) : text(t) {}
    Json Document()
    {
        Json value = Value();
        Space();
        if (at != text.size()) Fail("trailing text");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what)
    {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at));
    }
    void Space()
    {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    }
    // Skips white space, then takes word if it comes next.
    bool Take(const std::string& word)
    {
        Space();
        if (text.compare(at, word.size(), word) != 0) return false;
        at += word.size();
        return true;
    }
    void Expect(const std::string& word)
    {
        if (!Take(word)) Fail("'" + word + "' expected");
    }
    std::string String()
    {
        Expect("\"");
        for (std::string out;;) {
            if (at >= text.size()) Fail("unterminated string");
            char c = text[at++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c == '\\') {
                const size_t k = at < text.size() ? std::string("\"\\/bfnrtu").find(text[at++]) : std::string::npos;
                if (k == std::string::npos || (k == 8 && at + 4 > text.size())) Fail("bad escape");
                c = k == 8 ? static_cast<char>(std::stoi(text.substr(at, 4), nullptr, 16)) : "\"\\/\b\f\n\r\t"[k];
                if (k == 8) at += 4;
            }
            out += c;
        }
    }
    Json Value()
    {
        Json v;
        if (Take("{")) {
            if (Take("}")) return v;
            do {
                const std::string key = String();
                Expect(":");
                v.members[key] = Value();
            } while (Take(","));
            Expect("}");
        } else if (Take("[")) {
            if (Take("]")) return v;
            do v.items.push_back(Value());
            while (Take(","));
            Expect("]");
        } else if (at < text.size() && text[at] == '"') {
            v.text = String();
        } else if (Take("true")) {
            v.flag = true;
        } else if (!Take("false") && !Take("null")) {
            static const std::regex number(R"(^-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?)");
            std::smatch match;
            const std::string rest = text.substr(at, 64);
            if (!std::regex_search(rest, match, number)) Fail("value expected");
            v.number = std::stod(match[0].str());
            at += match[0].length();
        }
        return v;
    }

    const std::string& text;
    size_t at = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    const auto found = members.find(key);
    if (found == members.end()) throw std::runtime_error("JSON: no member '" + key + "'");
    return found->second;
}

Json ParseJson(const std::string& text) { return JsonParser(text).Document(); }

RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd)
{
    const std::filesystem::path out = cwd / ".tool-stdout", err = cwd / ".tool-stderr";
    std::string command = "cd " + Quoted(cwd.string()) + " && " + Quoted(ORVANE_TOOL);
    for (const std::string& a : args) command += " " + Quoted(a);
    command += " </dev/null >" + Quoted(out.string()) + " 2>" + Quoted(err.string());
    const int raw = std::system(command.c_str());
    RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void WritePhoto(const std::filesystem::path& path, int cols, int rows)
{
    cv::Mat photo;
    cv::resize(cv::imread(ORVANE_SAMPLE_PHOTO, cv::IMREAD_COLOR), photo, {cols, rows}, 0, 0, cv::INTER_AREA);
    ASSERT_TRUE(cv::imwrite(path.string(), photo));
}

std::vector<std::string> FileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

AdmeshReport Admesh(const std::filesystem::path& stl)
{
    const std::string command = Quoted(ADMESH_PROGRAM) + " " + Quoted(stl.string()) + " 2>&1";
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    // The first figure after each label: the "Original" column, before admesh mended anything.
    const auto figure = [&text](const std::string& label) {
        std::smatch match;
        if (!std::regex_search(text, match, std::regex(label + R"(\s*[:=]\s*(-?[0-9.]+))"))) return std::nan("");
        return std::stod(match[1].str());
    };
    return {figure("Number of facets"), figure("Total disconnected facets"), figure("Facets reversed"),
            figure("Backwards edges"), figure("Normals fixed"), figure("Volume"), figure("Max Z")};
}

double ExpectSoundStl(const std::filesystem::path& stl, int64_t triangles)
{
    SCOPED_TRACE(stl.string());
    const std::string bytes = ReadText(stl);
    uint32_t count = 0;
    if (bytes.size() >= 84) std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_EQ(count, triangles);
    EXPECT_EQ(bytes.size(), 84 + 50 * uint64_t(triangles)) << "binary STL size disagrees with its count";
    const AdmeshReport report = Admesh(stl);
    EXPECT_EQ(report.facets, triangles);
    EXPECT_EQ(report.disconnectedFacets, 0) << "open edges";
    EXPECT_EQ(report.facetsReversed, 0) << "inconsistently wound facets";
    EXPECT_EQ(report.backwardsEdges, 0);
    EXPECT_EQ(report.normalsFixed, 0);
    EXPECT_GT(report.volume, 0.0);
    return report.volume;
}

std::map<std::string, int64_t> ExpectListedFiles(const Json& files, const std::filesystem::path& cwd,
                                                 const std::filesystem::path& folder)
{
    std::map<std::string, int64_t> trianglesOf;
    std::vector<std::string> listed;
    for (const Json& file : files.items) {
        const std::filesystem::path path = cwd / file["path"].text;
        listed.push_back(path.filename().string());
        EXPECT_EQ(path.parent_path(), folder);
        if (!std::filesystem::exists(path)) continue;  // the listing check below names it
        EXPECT_EQ(std::filesystem::file_size(path), file["bytes"].number) << path;
        if (file["kind"].text != "stl") continue;
        const int64_t triangles = trianglesOf[listed.back()] = static_cast<int64_t>(file["triangles"].number);
        if (triangles > 0) ExpectSoundStl(path, triangles);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(FileNames(folder), listed) << "missing, unlisted or temporary files";
    return trianglesOf;
}

std::vector<ThreeMfObject> ReadThreeMf(const std::filesystem::path& package)
{
    using namespace NMR;
    Lib3mfHandles handles;
    PLib3MFModel* model = nullptr;
    handles.Take(lib3mf_createmodel(&model), &model, "createmodel");
    PLib3MFModelReader* reader = nullptr;
    handles.Take(lib3mf_model_queryreader(model, "3mf", &reader), &reader, "queryreader");
    lib3mf_reader_setstrictmodeactive(reader, true);
    Check(lib3mf_reader_readfromfileutf8(reader, package.string().c_str()), "reading the package");
    DWORD warnings = 0;
    lib3mf_reader_getwarningcount(reader, &warnings);
    if (warnings != 0) throw std::runtime_error("lib3mf: " + std::to_string(warnings) + " warnings");

    std::vector<ThreeMfObject> objects;
    PLib3MFModelBuildItemIterator* items = nullptr;
    handles.Take(lib3mf_model_getbuilditems(model, &items), &items, "getbuilditems");
    BOOL hasNext = false;
    while (lib3mf_builditemiterator_movenext(items, &hasNext) == LIB3MF_OK && hasNext) {
        PLib3MFModelBuildItem* item = nullptr;
        handles.Take(lib3mf_builditemiterator_getcurrent(items, &item), &item, "getcurrent");
        DWORD id = 0, group = 0, index = 0;
        Check(lib3mf_builditem_getobjectresourceid(item, &id), "getobjectresourceid");
        PLib3MFModelMeshObject* mesh = nullptr;
        handles.Take(lib3mf_model_getmeshobjectbyid(model, id, &mesh), &mesh, "getmeshobjectbyid");
        ThreeMfObject object;
        Check(lib3mf_meshobject_getvertexcount(mesh, &object.vertices), "getvertexcount");
        Check(lib3mf_meshobject_gettrianglecount(mesh, &object.triangles), "gettrianglecount");
        char name[512] = {};
        ULONG needed = 0;
        Check(lib3mf_object_getnameutf8(mesh, name, sizeof name, &needed), "getname");
        object.name = name;
        BOOL manifold = false;
        Check(lib3mf_meshobject_ismanifoldandoriented(mesh, &manifold), "ismanifoldandoriented");
        object.manifold = manifold;
        PLib3MFDefaultPropertyHandler* handler = nullptr;
        handles.Take(lib3mf_object_createdefaultpropertyhandler(mesh, &handler), &handler, "createpropertyhandler");
        Check(lib3mf_defaultpropertyhandler_getbasematerial(handler, &group, &index), "getbasematerial");
        PLib3MFModelBaseMaterial* material = nullptr;
        handles.Take(lib3mf_model_getbasematerialbyid(model, group, &material), &material, "getbasematerialbyid");
        BYTE red = 0, green = 0, blue = 0, alpha = 0;
        Check(lib3mf_basematerial_getdisplaycolor(material, index, &red, &green, &blue, &alpha), "getdisplaycolor");
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x%02x%02x", red, green, blue);
        object.colour = hex;
        MODELTRANSFORM transform{};
        Check(lib3mf_builditem_getobjecttransform(item, &transform), "getobjecttransform");
        std::vector<MODELMESHVERTEX> vertices(object.vertices);
        Check(lib3mf_meshobject_getvertices(mesh, vertices.data(), object.vertices, nullptr), "getvertices");
        object.lowestZ = std::numeric_limits<float>::infinity();
        for (const MODELMESHVERTEX& v : vertices) {
            const float* row = transform.m_fFields[2];
            object.lowestZ = std::min(object.lowestZ, row[0] * v.m_fPosition[0] + row[1] * v.m_fPosition[1] +
                                                          row[2] * v.m_fPosition[2] + row[3]);
        }
        objects.push_back(object);
    }
    return objects;
}

void ToolTest::SetUp()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() /
          ("orvane-cli-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
           std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
}

void ToolTest::TearDown()
{
    if (!HasFailure()) std::filesystem::remove_all(dir);
}

}  // namespace cli_test
