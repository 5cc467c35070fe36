#include "CliHarness.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

int64_t Field(const std::string& text, const std::string& pattern)
{
    std::smatch match;
    if (!std::regex_search(text, match, std::regex(pattern))) return -1;
    return std::stoll(match[1].str());
}

double RealField(const std::string& text, const std::string& pattern)
{
    std::smatch match;
    if (!std::regex_search(text, match, std::regex(pattern))) return std::nan("");
    return std::stod(match[1].str());
}

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
    bool Take(const std::string& word)
    {
        if (text.compare(at, word.size(), word) != 0) return false;
        at += word.size();
        return true;
    }
    std::string String()
    {
        if (!Take("\"")) Fail("string expected");
        std::string out;
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c == '\\') {
                if (at >= text.size()) Fail("bad escape");
                c = text[at++];
                if (c == 'u') {
                    if (at + 4 > text.size()) Fail("bad escape");
                    out += static_cast<char>(std::stoi(text.substr(at, 4), nullptr, 16));
                    at += 4;
                    continue;
                }
                const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
                const size_t k = from.find(c);
                if (k == std::string::npos) Fail("bad escape");
                c = to[k];
            }
            out += c;
        }
        if (!Take("\"")) Fail("unterminated string");
        return out;
    }
    Json Value()
    {
        Space();
        Json v;
        if (at >= text.size()) Fail("value expected");
        const char c = text[at];
        if (c == '{') {
            ++at;
            v.kind = Json::kObject;
            Space();
            if (Take("}")) return v;
            do {
                Space();
                const std::string key = String();
                Space();
                if (!Take(":")) Fail("':' expected");
                v.members[key] = Value();
                Space();
            } while (Take(","));
            if (!Take("}")) Fail("'}' expected");
        } else if (c == '[') {
            ++at;
            v.kind = Json::kArray;
            Space();
            if (Take("]")) return v;
            do v.items.push_back(Value());
            while ((Space(), Take(",")));
            if (!Take("]")) Fail("']' expected");
        } else if (c == '"') {
            v.kind = Json::kString;
            v.text = String();
        } else if (Take("true")) {
            v.kind = Json::kBool;
            v.flag = true;
        } else if (Take("false")) {
            v.kind = Json::kBool;
        } else if (Take("null")) {
        } else {
            static const std::regex number(R"(^-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?)");
            std::smatch match;
            const std::string rest = text.substr(at, 64);
            if (!std::regex_search(rest, match, number)) Fail("value expected");
            v.kind = Json::kNumber;
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
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadText(out);
    result.err = ReadText(err);
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

void WritePng(const std::filesystem::path& path, const cv::Mat& image)
{
    ASSERT_TRUE(cv::imwrite(path.string(), image));
}

cv::Mat MakePhoto(int cols, int rows)
{
    cv::Mat image(rows, cols, CV_8UC3);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image.at<cv::Vec3b>(r, c) = cv::Vec3b(static_cast<uint8_t>(255 * c / (cols - 1)),
                                                  static_cast<uint8_t>(255 * r / (rows - 1)),
                                                  static_cast<uint8_t>(255 * (c + r) / (cols + rows - 2)));
    cv::circle(image, {cols / 3, rows / 2}, std::min(cols, rows) / 4, cv::Scalar(240, 250, 255), cv::FILLED);
    cv::rectangle(image, {cols * 2 / 3, rows / 4}, {cols * 2 / 3 + cols / 8, rows * 3 / 4}, cv::Scalar(10, 20, 30),
                  cv::FILLED);
    return image;
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
    AdmeshReport report;
    // The "Original" column: what the file held before admesh mended anything.
    report.facets = Field(text, R"(Number of facets\s*:\s*(\d+))");
    report.disconnectedFacets = Field(text, R"(Total disconnected facets\s*:\s*(\d+))");
    report.facetsReversed = Field(text, R"(Facets reversed\s*:\s*(\d+))");
    report.backwardsEdges = Field(text, R"(Backwards edges\s*:\s*(\d+))");
    report.normalsFixed = Field(text, R"(Normals fixed\s*:\s*(\d+))");
    report.volume = RealField(text, R"(Volume\s*:\s*(-?[0-9.]+))");
    report.maxZ = RealField(text, R"(Max Z =\s*(-?[0-9.]+))");
    report.minZ = RealField(text, R"(Min Z =\s*(-?[0-9.]+))");
    return report;
}

int64_t StlFacetCount(const std::filesystem::path& stl)
{
    const std::string bytes = ReadText(stl);
    if (bytes.size() < 84) return -1;
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 80, 4);
    if (bytes.size() != 84 + 50 * uint64_t(count)) return -1;
    return count;
}

std::vector<ThreeMfObject> ReadThreeMf(const std::filesystem::path& package)
{
    using namespace NMR;
    struct Release {
        void operator()(void* p) const
        {
            if (p) lib3mf_release(static_cast<PLib3MFBase*>(p));
        }
    };
    auto check = [](LIB3MFRESULT result, const char* what) {
        if (result != LIB3MF_OK) throw std::runtime_error(std::string("lib3mf: ") + what + " failed");
    };
    PLib3MFModel* rawModel = nullptr;
    check(lib3mf_createmodel(&rawModel), "createmodel");
    std::unique_ptr<void, Release> model(rawModel);
    PLib3MFModelReader* rawReader = nullptr;
    check(lib3mf_model_queryreader(rawModel, "3mf", &rawReader), "queryreader");
    std::unique_ptr<void, Release> reader(rawReader);
    lib3mf_reader_setstrictmodeactive(rawReader, true);
    check(lib3mf_reader_readfromfileutf8(rawReader, package.string().c_str()), "reading the package");
    DWORD warnings = 0;
    lib3mf_reader_getwarningcount(rawReader, &warnings);
    if (warnings != 0) throw std::runtime_error("lib3mf: " + std::to_string(warnings) + " warnings");

    std::vector<ThreeMfObject> objects;
    PLib3MFModelBuildItemIterator* rawItems = nullptr;
    check(lib3mf_model_getbuilditems(rawModel, &rawItems), "getbuilditems");
    std::unique_ptr<void, Release> items(rawItems);
    BOOL hasNext = false;
    while (lib3mf_builditemiterator_movenext(rawItems, &hasNext) == LIB3MF_OK && hasNext) {
        PLib3MFModelBuildItem* rawItem = nullptr;
        check(lib3mf_builditemiterator_getcurrent(rawItems, &rawItem), "getcurrent");
        std::unique_ptr<void, Release> item(rawItem);
        DWORD id = 0;
        check(lib3mf_builditem_getobjectresourceid(rawItem, &id), "getobjectresourceid");
        PLib3MFModelMeshObject* rawMesh = nullptr;
        check(lib3mf_model_getmeshobjectbyid(rawModel, id, &rawMesh), "getmeshobjectbyid");
        std::unique_ptr<void, Release> mesh(rawMesh);
        ThreeMfObject object;
        check(lib3mf_meshobject_getvertexcount(rawMesh, &object.vertices), "getvertexcount");
        check(lib3mf_meshobject_gettrianglecount(rawMesh, &object.triangles), "gettrianglecount");
        char name[512] = {};
        ULONG needed = 0;
        check(lib3mf_object_getnameutf8(rawMesh, name, sizeof name, &needed), "getname");
        object.name = name;
        BOOL manifold = false;
        check(lib3mf_meshobject_ismanifoldandoriented(rawMesh, &manifold), "ismanifoldandoriented");
        object.manifold = manifold;
        PLib3MFDefaultPropertyHandler* rawHandler = nullptr;
        check(lib3mf_object_createdefaultpropertyhandler(rawMesh, &rawHandler), "createdefaultpropertyhandler");
        std::unique_ptr<void, Release> handler(rawHandler);
        DWORD group = 0, index = 0;
        check(lib3mf_defaultpropertyhandler_getbasematerial(rawHandler, &group, &index), "getbasematerial");
        PLib3MFModelBaseMaterial* rawMaterial = nullptr;
        check(lib3mf_model_getbasematerialbyid(rawModel, group, &rawMaterial), "getbasematerialbyid");
        std::unique_ptr<void, Release> material(rawMaterial);
        BYTE red = 0, green = 0, blue = 0, alpha = 0;
        check(lib3mf_basematerial_getdisplaycolor(rawMaterial, index, &red, &green, &blue, &alpha), "getdisplaycolor");
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x%02x%02x", red, green, blue);
        object.colour = hex;
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
