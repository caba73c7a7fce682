#include "scene/ScenePlugins.h"

#include "kivo/FloatMath.h"
#include "kivo/PluginDescriptor.h"
#include "scene/Cameras.h"
#include "scene/ImagePlugins.h"

#include <algorithm>
#include <cmath>

namespace kivohost {

using namespace KUtils;

namespace {

inline constexpr InterfaceID SCENE_TEXTURE_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_TEXTURE,
                                                           EXT_TEXTURE_FLOAT, 0};

// A colour parameter that takes a constant or a connected texture.
class ColorInput {
public:
    explicit ColorInput(const char* name) : name(name) {}

    void refresh(KivoParameterList* list, double t) {
        texture = nullptr;
        KivoParameter* p = list ? list->getParam(name) : nullptr;
        if (!p) {
            return;
        }
        constant = p->getColor(0, t);
        if (PluginBase* plugin = p->getPlugin(0, t)) {
            texture = static_cast<TextureInterface*>(plugin->getInterface(EXT_TEXTURE));
        }
    }
    AColor eval(const ShadingContext& sc) const {
        if (!texture) {
            return constant;
        }
        AColor c;
        texture->evalColor(c, sc);
        return c;
    }

private:
    const char* name;
    TextureInterface* texture = nullptr;
    AColor constant;
};

AColor mix(const AColor& a, const AColor& b, float f) {
    const float g = 1.0f - f;
    return {a.r * g + b.r * f, a.g * g + b.g * f, a.b * g + b.b * f, a.a * g + b.a * f};
}

// Shared by the textures: the `uvwgen` input, resolved each frame, and the float view.
class SceneTexture : public KivoTexture, public TextureFloatInterface {
public:
    explicit SceneTexture(KivoPluginDesc* desc) : KivoTexture(desc) {
        if (KivoParameterList* list = getParamList()) {
            list->setParamCache("uvwgen", &uvwgenPlugin);
        }
    }

    PluginInterface* getInterface(InterfaceID id) override {
        if (id == EXT_TEXTURE_FLOAT) {
            return static_cast<TextureFloatInterface*>(this);
        }
        return KivoTexture::getInterface(id);
    }
    PluginBase* getPlugin() override { return this; }

    void frameBegin(KivoRenderer* renderer) override {
        KivoTexture::frameBegin(renderer);
        uvwgen = uvwgenPlugin
                     ? static_cast<UVWGenInterface*>(uvwgenPlugin->getInterface(EXT_UVWGEN))
                     : nullptr;
        refreshInputs(getParamList(),
                      renderer && renderer->frameData ? renderer->frameData->frameTime : 0.0);
    }

    float evalFloat(const ShadingContext& sc) override {
        AColor c;
        evalColor(c, sc);
        return (c.r + c.g + c.b) * (1.0f / 3.0f);
    }

protected:
    virtual void refreshInputs(KivoParameterList* list, double t) = 0;

    // The UVW and its screen derivatives at the context; 0 where the generator reports the
    // point invalid. The first lookup of a probed context is recorded.
    int lookup(const ShadingContext& sc, Vector4f out[3]) const {
        int valid = 1;
        if (uvwgen) {
            valid = uvwgen->evalUVWDerivs(sc, out);
        } else {
            out[0] = sc.shadingPoint;
            out[1] = sc.dPdx;
            out[2] = sc.dPdy;
        }
        if (const auto* probed = dynamic_cast<const ProbedShadingContext*>(&sc)) {
            probed->recordUVW(out[0]);
        }
        return valid;
    }

private:
    PluginBase* uvwgenPlugin = nullptr;
    UVWGenInterface* uvwgen = nullptr;
};

// Integral of the unit square wave (+1 on [0,1), -1 on [1,2), period 2) from 0 to x.
float squareWaveIntegral(float x) {
    const float y = x - 2.0f * truncFloor(x * 0.5f);
    return 1.0f - std::fabs(y - 1.0f);
}

// The square wave +1/-1 of cells of unit size, averaged over a box of width w around x.
float filteredSquareWave(float x, float w) {
    if (w < 1e-4f) {
        return truncFrac(x * 0.5f) < 0.5f ? 1.0f : -1.0f;
    }
    if (w > 1e4f) {
        return 0.0f;
    }
    return (squareWaveIntegral(x + 0.5f * w) - squareWaveIntegral(x - 0.5f * w)) / w;
}

class TexChecker final : public SceneTexture {
public:
    explicit TexChecker(KivoPluginDesc* desc) : SceneTexture(desc) {
        if (KivoParameterList* list = getParamList()) {
            list->setParamCache("repeat", &repeat);
        }
    }

    void evalColor(AColor& result, const ShadingContext& sc) override {
        Vector4f uvw[3];
        if (!lookup(sc, uvw)) {
            result = invalid.eval(sc);
            return;
        }
        // The product of per-axis square waves is separable, so box-filtering each axis over
        // the footprint of one pixel filters the whole checker.
        const float scale[3] = {repeat.x, repeat.y, repeat.z};
        const float at[3] = {uvw[0].x, uvw[0].y, uvw[0].z};
        const float dx[3] = {uvw[1].x, uvw[1].y, uvw[1].z};
        const float dy[3] = {uvw[2].x, uvw[2].y, uvw[2].z};
        float wave = 1.0f;
        for (int k = 0; k < 3; ++k) {
            if (scale[k] != 0.0f) {
                const float width =
                    std::max(std::fabs(dx[k]), std::fabs(dy[k])) * std::fabs(scale[k]);
                wave *= filteredSquareWave(at[k] * scale[k], width);
            }
        }
        result = mix(color2.eval(sc), color1.eval(sc), 0.5f + 0.5f * wave);
    }
    void getColorRange(AColor& minimum, AColor& maximum) override {
        minimum = AColor{};
        maximum = AColor{1.0f, 1.0f, 1.0f, 1.0f};
    }

private:
    void refreshInputs(KivoParameterList* list, double t) override {
        color1.refresh(list, t);
        color2.refresh(list, t);
        invalid.refresh(list, t);
    }

    Vector4f repeat{4.0f, 4.0f, 0.0f, 0.0f};
    ColorInput color1{"color1"};
    ColorInput color2{"color2"};
    ColorInput invalid{"invalid_color"};
};

class TexGrid final : public SceneTexture {
public:
    explicit TexGrid(KivoPluginDesc* desc) : SceneTexture(desc) {
        if (KivoParameterList* list = getParamList()) {
            list->setParamCache("divisions", &divisions);
            list->setParamCache("line_width", &lineWidth);
        }
    }

    void evalColor(AColor& result, const ShadingContext& sc) override {
        Vector4f uvw[3];
        if (!lookup(sc, uvw)) {
            result = invalid.eval(sc);
            return;
        }
        // Cells shaded by where they lie in the unit square (u to red, v to green), so the
        // orientation of the mapping shows; tiles outside [0,1) repeat the colours.
        const float u = truncFrac(uvw[0].x);
        const float v = truncFrac(uvw[0].y);
        const float n = float(std::max(divisions, 1));
        const float cu = (truncFloor(u * n) + 0.5f) / n;
        const float cv = (truncFloor(v * n) + 0.5f) / n;
        const AColor cell{0.15f + 0.75f * cu, 0.15f + 0.75f * cv, 0.55f - 0.3f * cu * cv, 1.0f};
        // Distance to the nearest line in cell units, against the half width widened by the
        // pixel footprint so that lines stay visible when small.
        auto near = [&](float x, float d) {
            const float f = truncFrac(x * n);
            const float dist = std::min(f, 1.0f - f);
            const float half = 0.5f * lineWidth + 0.5f * std::fabs(d) * n;
            return dist < half;
        };
        const float du = std::max(std::fabs(uvw[1].x), std::fabs(uvw[2].x));
        const float dv = std::max(std::fabs(uvw[1].y), std::fabs(uvw[2].y));
        result = near(u, du) || near(v, dv) ? lines.eval(sc) : cell;
    }
    void getColorRange(AColor& minimum, AColor& maximum) override {
        minimum = AColor{};
        maximum = AColor{1.0f, 1.0f, 1.0f, 1.0f};
    }

private:
    void refreshInputs(KivoParameterList* list, double t) override {
        lines.refresh(list, t);
        invalid.refresh(list, t);
    }

    int divisions = 8;
    float lineWidth = 0.08f;
    ColorInput lines{"line_color"};
    ColorInput invalid{"invalid_color"};
};

class TexConstant final : public SceneTexture {
public:
    using SceneTexture::SceneTexture;

    void evalColor(AColor& result, const ShadingContext& sc) override { result = color.eval(sc); }
    void getColorRange(AColor& minimum, AColor& maximum) override {
        minimum = AColor{};
        maximum = AColor{1.0f, 1.0f, 1.0f, 1.0f};
    }

private:
    void refreshInputs(KivoParameterList* list, double t) override { color.refresh(list, t); }
    ColorInput color{"color"};
};

class TexUVW final : public SceneTexture {
public:
    explicit TexUVW(KivoPluginDesc* desc) : SceneTexture(desc) {
        if (KivoParameterList* list = getParamList()) {
            list->setParamCache("component", &component);
        }
    }

    void evalColor(AColor& result, const ShadingContext& sc) override {
        Vector4f uvw[3];
        lookup(sc, uvw);
        if (component < 0) {
            result = AColor{uvw[0].x, uvw[0].y, uvw[0].z, 1.0f};
            return;
        }
        const float c = pick(uvw[0]);
        result = AColor{c, c, c, 1.0f};
    }
    float evalFloat(const ShadingContext& sc) override {
        Vector4f uvw[3];
        lookup(sc, uvw);
        return pick(uvw[0]);
    }
    void getColorRange(AColor& minimum, AColor& maximum) override {
        minimum = AColor{-1e18f, -1e18f, -1e18f, 1.0f};
        maximum = AColor{1e18f, 1e18f, 1e18f, 1.0f};
    }

private:
    void refreshInputs(KivoParameterList*, double) override {}
    // The selected component; u when all three are selected.
    float pick(const Vector4f& uvw) const {
        return component == 2 ? uvw.z : component == 1 ? uvw.y : uvw.x;
    }
    int component = -1;
};

class TexBitmap final : public SceneTexture {
public:
    explicit TexBitmap(KivoPluginDesc* desc) : SceneTexture(desc) {
        if (KivoParameterList* list = getParamList()) {
            list->setParamCache("bitmap", &bitmapPlugin);
            list->setParamCache("tile", &tile);
        }
    }

    void evalColor(AColor& result, const ShadingContext& sc) override {
        Vector4f uvw[3];
        const MipImage* image = bitmap ? bitmap->image() : nullptr;
        if (!lookup(sc, uvw) || !image) {
            result = outside.eval(sc);
            return;
        }
        const float footprint = std::max(
            {std::fabs(uvw[1].x), std::fabs(uvw[1].y), std::fabs(uvw[2].x), std::fabs(uvw[2].y)});
        result = image->lookup(uvw[0].x, uvw[0].y, footprint, tile != 0, outside.eval(sc));
    }
    void getColorRange(AColor& minimum, AColor& maximum) override {
        minimum = AColor{};
        maximum = AColor{1.0f, 1.0f, 1.0f, 1.0f};
    }

private:
    void refreshInputs(KivoParameterList* list, double t) override {
        outside.refresh(list, t);
        bitmap = dynamic_cast<BitmapBuffer*>(bitmapPlugin);
    }

    PluginBase* bitmapPlugin = nullptr;
    BitmapBuffer* bitmap = nullptr;
    int tile = 1;
    ColorInput outside{"default_color"};
};

void addUVWGenParam(KivoParameterListDesc& p) {
    p.addParamPlugin("uvwgen", EXT_UVWGEN, -1,
                     "UVW generator whose coordinates the texture reads; the shading point "
                     "when none",
                     "");
}
void addInvalidColorParam(KivoParameterListDesc& p) {
    p.addParamTexture("invalid_color", AColor{0.05f, 0.05f, 0.05f, 1.0f}, -1,
                      "Colour where the UVW generator reports the point invalid", "");
}

class TexCheckerDesc final : public PluginDescOf<TexChecker> {
public:
    TexCheckerDesc()
        : PluginDescOf("TexChecker", TEX_CHECKER_ID,
                       "Checker over the UVW of a UVW generator, filtered by its derivatives",
                       SCENE_TEXTURE_INTERFACES) {
        KivoParameterListDesc& p = paramDescs();
        addUVWGenParam(p);
        p.addParamTexture("color1", AColor{0.9f, 0.9f, 0.9f, 1.0f}, -1, "First checker colour", "");
        p.addParamTexture("color2", AColor{0.1f, 0.1f, 0.1f, 1.0f}, -1, "Second checker colour",
                          "");
        p.addParamVector("repeat", Vector4f{4.0f, 4.0f, 0.0f, 0.0f}, -1,
                         "Checker cells per unit of u, v and w; 0 leaves that axis out", "");
        addInvalidColorParam(p);
        publishParams();
    }
};

class TexGridDesc final : public PluginDescOf<TexGrid> {
public:
    TexGridDesc()
        : PluginDescOf("TexGrid", TEX_GRID_ID,
                       "UV grid: cells coloured by u (red) and v (green), with grid lines",
                       SCENE_TEXTURE_INTERFACES) {
        KivoParameterListDesc& p = paramDescs();
        addUVWGenParam(p);
        p.addParamInt("divisions", 8, -1, "Grid cells per unit of u and v", "");
        p.addParamFloat("line_width", 0.08f, -1, "Line width as a fraction of a cell", "");
        p.addParamTexture("line_color", AColor{0.95f, 0.95f, 0.95f, 1.0f}, -1,
                          "Colour of the grid lines", "");
        addInvalidColorParam(p);
        publishParams();
    }
};

class TexConstantDesc final : public PluginDescOf<TexConstant> {
public:
    TexConstantDesc()
        : PluginDescOf("TexConstant", TEX_CONSTANT_ID, "A constant colour",
                       SCENE_TEXTURE_INTERFACES) {
        paramDescs().addParamTexture("color", AColor{0.5f, 0.5f, 0.5f, 1.0f}, -1, "The colour", "");
        publishParams();
    }
};

class TexUVWDesc final : public PluginDescOf<TexUVW> {
public:
    TexUVWDesc()
        : PluginDescOf("TexUVW", TEX_UVW_ID,
                       "The UVW of a UVW generator as a colour, or one component of it",
                       SCENE_TEXTURE_INTERFACES) {
        KivoParameterListDesc& p = paramDescs();
        addUVWGenParam(p);
        p.addParamInt("component", -1, -1,
                      "-1: the colour is (u, v, w) and the float u; 0, 1, 2: colour and float "
                      "are u, v or w",
                      "");
        publishParams();
    }
};

class TexBitmapDesc final : public PluginDescOf<TexBitmap> {
public:
    TexBitmapDesc()
        : PluginDescOf("TexBitmap", TEX_BITMAP_ID,
                       "The image of a BitmapBuffer at the UVW of a UVW generator, filtered by "
                       "its derivatives",
                       SCENE_TEXTURE_INTERFACES) {
        KivoParameterListDesc& p = paramDescs();
        addUVWGenParam(p);
        p.addParamPlugin("bitmap", EXT_BITMAP_SIZE, -1, "The BitmapBuffer holding the image", "");
        p.addParamInt("tile", 1, -1, "1: the image repeats beyond [0, 1); 0: default_color there",
                      "");
        p.addParamTexture("default_color", AColor{0.0f, 0.0f, 0.0f, 0.0f}, -1,
                          "Colour outside the image, without a bitmap, or where the UVW "
                          "generator reports the point invalid",
                          "");
        publishParams();
    }
};

} // namespace

const std::vector<KivoPluginDesc*>& scenePluginDescs() {
    static TexCheckerDesc checker;
    static TexGridDesc grid;
    static TexConstantDesc constant;
    static TexUVWDesc uvw;
    static RenderViewDesc renderView;
    static SettingsCameraDesc settingsCamera;
    static TexBitmapDesc bitmap;
    static const std::vector<KivoPluginDesc*> descs = {
        &checker,    &grid,           &constant, &uvw,
        &renderView, &settingsCamera, &bitmap,   bitmapBufferDesc()};
    return descs;
}

} // namespace kivohost
