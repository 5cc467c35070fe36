// Everything a host needs: photograph in, triangle meshes, STL streams and previews out.
#pragma once
#include "orvane/OrvaneExport.h"
#include "orvane/OrvaneMesh.h"
#include "orvane/PhotosBase.h"
#include "orvane/ImageLimits.h"
#include "orvane/ColourDifference.h"
#include "orvane/PhotoMeshCreater.h"
#include "orvane/PhotosRelief.h"
#include "orvane/MeshMerging.h"
#include "orvane/StackPlanner.h"
#include "orvane/PhotosTranslucent.h"
#include "orvane/OrvaneReliefProxy.h"
#include "orvane/OrvaneTranslucentProxy.h"
