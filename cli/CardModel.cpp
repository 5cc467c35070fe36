#include "CardModel.h"

#include <sstream>

#include <orvane/PhotoMeshCreater.h>

namespace orvane_cli {

Materials DefaultMaterials()
{
    return {NamedColour{ParseColour("00ffff:0.3", 1.0f, ""), "cyan"},
            NamedColour{ParseColour("ff00ff:0.3", 1.0f, ""), "magenta"},
            NamedColour{ParseColour("ffff00:0.3", 1.0f, ""), "yellow"},
            NamedColour{ParseColour("ffffff:0.1", 1.0f, ""), "white"}};
}

OptionSpec MaterialsOption()
{
    return {"materials", "C0,C1,C2,C3",
            "materials 0-3 as RRGGBB[:A], three colours then white: the colours of the 3MF objects, and "
            "with their opacities A the light model of --simulate (default "
            "00ffff:0.3,ff00ff:0.3,ffff00:0.3,ffffff:0.1)"};
}

Materials ReadMaterials(const Arguments& args)
{
    Materials materials = DefaultMaterials();
    if (!args.Has("materials")) return materials;
    std::istringstream words(args.Text("materials", ""));
    std::string word;
    size_t count = 0;
    while (std::getline(words, word, ',')) {
        if (count < materials.size()) {
            materials[count].entry = ParseColour(word, materials[count].entry[3], "--materials");
            materials[count].name = HexOf(materials[count].entry);
        }
        ++count;
    }
    if (count != materials.size())
        throw UsageError("--materials needs four colours separated by commas, not " + std::to_string(count));
    return materials;
}

Orvanes::CardMaterials EntriesOf(const Materials& materials)
{
    return {materials[0].entry, materials[1].entry, materials[2].entry, materials[3].entry};
}

Orvanes::CardFinderOptions FinderOptions(const Materials& materials)
{
    Orvanes::CardFinderOptions options;
    options.white = Orvanes::ColourCard::WhiteReference(EntriesOf(materials));
    options.black = Orvanes::ColourCard::BlackReference(EntriesOf(materials));
    return options;
}

std::vector<Orvanes::OrvaneMesh> CardMeshes(const Materials& materials, double cellSize, double layerHeight,
                                            double lastLayerHeight, Orvanes::PhotosProgressBar* progress)
{
    const cv::Mat voxels = Orvanes::ColourCard::Voxels(EntriesOf(materials));
    Orvanes::PhotoMeshCreater mesher(progress);
    std::vector<Orvanes::OrvaneMesh> meshes;
    for (int material = 0; material < 4; ++material)
        meshes.push_back(mesher.CreateMeshFromVox(voxels, cellSize, layerHeight, lastLayerHeight, material,
                                                  25 * material, 25 * material + 25));
    if (progress) progress->SetProgress(100);
    return meshes;
}

cv::Mat SimulatedCard(const Materials& materials, int cellPixels)
{
    return Orvanes::ColourCard::Render(EntriesOf(materials), cellPixels, false);
}

}  // namespace orvane_cli
