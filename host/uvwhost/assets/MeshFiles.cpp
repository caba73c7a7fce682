// Meshes through Assimp.
#include "uvwhost/Assets.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

namespace uvwhost {

using namespace KUtils;

Parsed<kivohost::TriangleMesh> loadMesh(const std::string& path) {
    using Result = Parsed<kivohost::TriangleMesh>;
    if (std::string error = unreadableFile("mesh", path); !error.empty()) {
        return Result::failure(error);
    }
    Assimp::Importer importer;
    const aiScene* scene =
        importer.ReadFile(path, aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                                    aiProcess_PreTransformVertices | aiProcess_SortByPType);
    if (!scene || !scene->mRootNode || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        return Result::failure("the mesh file \"" + path +
                               "\": expected a mesh in a format uvwhost reads (OBJ, PLY, glTF, "
                               "GLB, FBX, ...): " +
                               importer.GetErrorString());
    }
    kivohost::TriangleMesh mesh;
    unsigned sets = AI_MAX_NUMBER_OF_TEXTURECOORDS;
    bool anyTriangles = false;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh& part = *scene->mMeshes[m];
        if (!(part.mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) {
            continue; // points and lines are not rendered
        }
        anyTriangles = true;
        unsigned partSets = 0;
        while (partSets < AI_MAX_NUMBER_OF_TEXTURECOORDS && part.HasTextureCoords(partSets)) {
            ++partSets;
        }
        if (partSets == 0) {
            return Result::failure("the mesh file \"" + path + "\": part " + std::to_string(m) +
                                   (part.mName.length
                                        ? " (\"" + std::string(part.mName.C_Str()) + "\")"
                                        : std::string()) +
                                   " has no UV set; expected texture coordinates on every part");
        }
        sets = std::min(sets, partSets);
    }
    if (!anyTriangles) {
        return Result::failure("the mesh file \"" + path +
                               "\": expected triangles or polygons, found none");
    }
    mesh.uvs.resize(sets);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh& part = *scene->mMeshes[m];
        if (!(part.mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) {
            continue;
        }
        const auto base = std::uint32_t(mesh.positions.size());
        for (unsigned v = 0; v < part.mNumVertices; ++v) {
            const aiVector3D& p = part.mVertices[v];
            mesh.positions.push_back({p.x, p.y, p.z, 0.0f});
            const aiVector3D n = part.HasNormals() ? part.mNormals[v] : aiVector3D(0, 0, 0);
            mesh.normals.push_back({n.x, n.y, n.z, 0.0f});
            for (unsigned k = 0; k < sets; ++k) {
                const aiVector3D& t = part.mTextureCoords[k][v];
                mesh.uvs[k].push_back({t.x, t.y, part.mNumUVComponents[k] > 2 ? t.z : 0.0f, 0.0f});
            }
        }
        for (unsigned f = 0; f < part.mNumFaces; ++f) {
            const aiFace& face = part.mFaces[f];
            if (face.mNumIndices == 3) {
                mesh.triangles.push_back(
                    {base + face.mIndices[0], base + face.mIndices[1], base + face.mIndices[2]});
            }
        }
    }
    return mesh;
}

} // namespace uvwhost
