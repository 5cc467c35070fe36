// The fixed turn both meshers apply to every vertex.
#pragma once
#include <Eigen/Core>
#include <Eigen/Geometry>

namespace Orvanes::detail {

// The rotation by pi (rounded to single precision) about the y axis, built through the
// single-precision angle-axis conversion: its off-diagonal terms keep the residue sin(float pi),
// about -8.7e-8, and that residue fixes the last bits of every turned vertex.
inline const Eigen::Matrix3f& MeshTurn()
{
    static const Eigen::Matrix3f turn =
        Eigen::AngleAxisf(static_cast<float>(3.14159265358979323846), Eigen::Vector3f(0.0f, 1.0f, 0.0f))
            .toRotationMatrix();
    return turn;
}

}  // namespace Orvanes::detail
