#include "CardModel.h"

#include <sstream>

#include <opencv2/imgproc.hpp>
#include <orvane/PhotoMeshCreater.h>
#include <orvane/PhotosTranslucent.h>

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

cv::Mat CardVoxels()
{
    cv::Mat voxels(kCardRows, kCardColumns, CV_8UC(kCardLayers));
    for (int row = 0; row < kCardRows; ++row) {
        uint8_t* cells = voxels.ptr<uint8_t>(row);
        for (int column = 0; column < kCardColumns; ++column) {
            const std::array<uint8_t, 6> layers = Orvanes::PhotosTranslucent::CellLayers({row, column});
            for (int k = 0; k < kCardLayers; ++k) cells[column * kCardLayers + k] = layers[static_cast<size_t>(k)];
        }
    }
    return voxels;
}

std::vector<Orvanes::OrvaneMesh> CardMeshes(double cellSize, double layerHeight, double lastLayerHeight,
                                            Orvanes::PhotosProgressBar* progress)
{
    const cv::Mat voxels = CardVoxels();
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
    const cv::Mat voxels = CardVoxels();
    cv::Mat cells(kCardRows, kCardColumns, CV_8UC3);
    for (int row = 0; row < kCardRows; ++row)
        for (int column = 0; column < kCardColumns; ++column) {
            const uint8_t* layers = voxels.ptr<uint8_t>(row) + column * kCardLayers;
            cv::Vec3d light(1.0, 1.0, 1.0);
            for (int k = 0; k < kCardLayers; ++k) {
                const Orvanes::LayerEntry& m = materials[layers[k]].entry;
                const double opacity = m[3];
                for (int c = 0; c < 3; ++c) light[c] *= (1.0 - opacity) + opacity * m[c] / 255.0;
            }
            cells.at<cv::Vec3b>(row, column) =
                cv::Vec3b(cv::saturate_cast<uint8_t>(light[0] * 255.0), cv::saturate_cast<uint8_t>(light[1] * 255.0),
                          cv::saturate_cast<uint8_t>(light[2] * 255.0));
        }
    cv::Mat image;
    cv::resize(cells, image, cv::Size(kCardColumns * cellPixels, kCardRows * cellPixels), 0, 0, cv::INTER_NEAREST);
    return image;
}

}  // namespace orvane_cli
