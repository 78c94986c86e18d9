#pragma once

#include "view/clip.h"
#include "view/viewstate.h"

#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QCursor>
#include <QGLFormat>
#include <QImage>
#include <QList>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QPointF>
#include <QQuaternion>
#include <QRect>
#include <QStringList>
#include <QVariant>
#include <QVector3D>
#include <QVector4D>
#include <QVector>
#include <QWidget>

class GLWindow;
class QDataStream;
class QGLContext;
class QGLFramebufferObject;
class QGLPixelBuffer;
class QGLShaderProgram;
class QKeyEvent;
class QPropertyAnimation;
class QTimer;
class QWheelEvent;

// The 3D view. A plain widget that owns one GL surface (GLWindow) filling it and holds all view
// state: camera, projection, animation, render switches, colours, cursors and the GL resources of
// the view. It never owns the scene: every frame it emits configureScene, preRenderScene,
// renderScene (once per pass), postRenderScene and renderOverlay with itself as argument, and
// the owner draws in answer. Colour and camera setters do not repaint; callers call refresh().
// GUI thread only.
class GLWidget : public QWidget
{
    Q_OBJECT

public:
    // The driver's vendor class, one bit value.
    enum GpuVendor
    {
        GpuOther = 1,
        GpuIntel = 2,
        GpuAti = 4,
        GpuNvidia = 8,
        GpuMatrox = 16,
        GpuChromium = 32,
        GpuVmware = 64,
        GpuSoftware = 128
    };
    Q_ENUM(GpuVendor)

    // Mouse rotation: free rotation (also every value not listed), a turntable that keeps the
    // horizon level, or a trackball that tilts about the view axis at its rim.
    enum RotationMode
    {
        RotateFree = 1,
        RotateTurntable = 2,
        RotateTrackball = 4
    };
    Q_ENUM(RotationMode)

    // One screen text label for renderText. Callers fill text, position, alignment and, when
    // wanted, keepInView, color, background and data; the view computes anchor and rect.
    struct TextLabel
    {
        QString text;                          // may hold several lines
        QPointF position;                      // window pixels, y downwards
        int alignment = 0;                     // Qt::Alignment flags about position
        bool keepInView = false;               // moved inside the view instead of being clipped
        QColor color;                          // invalid: defaultLabelColor
        QBrush background = defaultLabelBrush; // Qt::NoBrush: no box
        QPointF anchor;                        // computed: position after alignment
        QRectF rect;                           // computed: the text's bounds in window pixels
        bool drawn = false;                    // set once the text has been painted
        QStringList texts;                     // carried for the caller, never read by the view
        QVector<double> values;                // carried for the caller, never read by the view
        QVariant data;                         // answered by textLabelDataAt; invalid when not set
    };

    // Defaults shared with the owner's settings and the preferences dialog.
    static const QColor defaultBackgroundTopColor;
    static const QColor defaultBackgroundBottomColor;
    static const QColor defaultEdgeColor;
    static const QColor defaultFillColor;
    static const QColor defaultBackFillColor;
    static const QColor defaultOffsideFillColor;
    static const QColor defaultXRayBackgroundTopColor;
    static const QColor defaultXRayBackgroundBottomColor;
    static const QColor defaultXRayFillColor;
    static const QColor defaultLabelColor; // text of a label without its own colour
    static const QBrush defaultLabelBrush; // box of a label without its own brush; the axis disc

    explicit GLWidget(QWidget *parent = nullptr);
    ~GLWidget() override;

    QSize sizeHint() const override;        // 320 x 320
    QSize minimumSizeHint() const override; // 50 x 50

    // --- Driver facts: process-wide caches filled on first use (GUI thread) ---

    // GL_VENDOR and GL_RENDERER of the driver, read once (from the first view's context, or a
    // temporary one) and cached; empty when unreadable.
    static QString glVendorString();
    static QString glRendererString();
    // Fills the empty driver-string caches without asking the driver; for tests that classify
    // a driver they do not have. Has no effect on a cache that is already filled.
    static void seedDriverStrings(const QString &vendor, const QString &renderer);
    // The vendor class of (vendor, renderer); a pure function of the two strings.
    static GpuVendor classifyGpuVendor(const QString &vendor, const QString &renderer);
    // The vendor class of this process's driver, computed once and cached.
    static GpuVendor gpuVendor();
    static bool hasOpenGL15();
    static bool hasOpenGL20();
    static bool hasOpenGL32();
    // Whether the cached GL_EXTENSIONS set holds exactly this name.
    static bool hasGLExtension(const QString &name);
    // Alpha channel, no stencil, sample buffers as asked, a 3.2 compatibility context when the
    // driver has OpenGL 3.2.
    static QGLFormat glFormat(bool sampleBuffers);
    // glFormat without sample buffers on ATI and AMD drivers, with them elsewhere.
    static QGLFormat defaultFormat();
    // Whether a throw-away surface asking for sample buffers gets them with more than one sample,
    // as its own context reports them.
    static bool isMultiSamplingSupported();
    // As isMultiSamplingSupported, but false on ATI and AMD drivers.
    static bool isMultiSamplingUsable();
    // Looks the occlusion-query entry points up in context (OpenGL 1.5 only).
    static void resolveQueryFunctions(const QGLContext *context);
    // Whether occlusion queries count samples: draws one triangle under a query in a temporary
    // context. False without OpenGL 1.5, entry points or counter bits.
    static bool testOcclusionQuery();
    // The shipped version 150 shader texts in the older dialect: #version lines removed, varying
    // for every line-leading in and out; the vertex text also clips through gl_ClipVertex.
    static QString rewriteVertexSource(const QString &source);
    static QString rewriteFragmentSource(const QString &source);

    // --- State ---

    bool lines() const { return m_lines; }
    bool hiddenLines() const { return m_hiddenLines; }
    bool isPainting() const { return m_painting; }
    bool wireframe() const { return m_wireframe; }
    bool shaders() const { return m_shaders; }
    bool xRayShading() const { return m_xRayShading; }
    bool perspective() const { return m_camera.perspective; }
    bool useDisplayLists() const { return m_useDisplayLists; } // always false
    bool lightingEnabled() const { return m_lightingEnabled; }
    bool lockedView() const { return m_lockedView; }
    bool occlusionQueryAvailable() const { return m_occlusionQueryAvailable; }
    float clipHighlight() const { return m_clipHighlight; }
    Clip::Direction clipDirection() const { return m_clipDirection; }
    double clipOffset() const { return m_clipOffset; }
    bool mouseSelect() const { return m_mouseSelect; }
    bool mouseWrapAround() const { return m_mouseWrapAround; }
    bool mouseZoomInverted() const { return m_mouseZoomInverted; }
    bool backFaceCulling() const { return m_backFaceCulling; }
    bool modelCursors() const { return m_modelCursors; }
    RotationMode rotationMode() const { return m_rotationMode; }
    int animationDuration() const { return m_animationDuration; }
    bool axis3DEnabled() const { return m_axis3DEnabled; }
    QVector3D sceneCenter() const { return m_camera.sceneCenter; }
    float sceneRadius() const { return m_camera.sceneRadius; }
    float fieldOfView() const { return m_camera.fieldOfView; } // vertical, radians
    float minDepth() const { return m_minDepth; }
    QVector3D cameraPosition() const { return m_camera.position; }
    QQuaternion cameraOrientation() const { return m_camera.orientation; }
    QVector3D rotationCenter() const { return m_rotationCenter; }
    float radiusScale() const { return m_camera.radiusScale; }
    float zoom() const { return m_camera.zoom; }
    QColor backgroundBottomColor() const { return m_backgroundBottomColor; }
    QColor backgroundTopColor() const { return m_backgroundTopColor; }
    QColor edgeColor() const { return m_edgeColor; }
    QColor altFillColor() const { return m_altFillColor; }
    QColor fillColor() const { return m_fillColor; }
    QColor offsideFillColor() const { return m_offsideFillColor; }
    QColor backFillColor() const { return m_backFillColor; }
    QImage frameImage() const { return m_frameImage; }
    int delayedMouseTimerInterval() const;

    // True while the animation object exists.
    bool animationEnabled() const;
    // The stored flags, but false while there is no animation object.
    bool animateClipPlane() const;
    bool animateZoom() const;
    // True while the camera animation runs or is paused, else while a navigation drag lasts.
    bool isAnimating() const;
    // True when the camera rests: no animation runs, no drag lasts, and the last frame drawn into
    // the window was drawn with the current camera, scene sphere and size.
    bool isSettled() const;
    // True when the current surface's framebuffer has more than one sample, as its context reports
    // (the surface's format echoes the request, granted or not).
    bool multiSampling() const;
    // True while the surface is hidden for a rectangle selection.
    bool isViewHidden() const;
    // True while the wireframe program is the one bound for the current pass.
    bool isWireframeProgramBound() const;
    // The surface's GL context after initializeGL, false before and after a surface rebuild.
    bool isGLInitialized() const { return m_glInitialized; }
    // The current surface (replaced by setMultiSampling).
    GLWindow *glWindow() const { return m_glWindow; }
    // The four programs; null before the first initializeGL, unlinked when they cannot be built.
    QGLShaderProgram *wireframeShaderProgram() const { return m_wireframeShaderProgram; }
    QGLShaderProgram *fixedShaderProgram() const { return m_fixedShaderProgram; }
    QGLShaderProgram *fixedColorShaderProgram() const { return m_fixedColorShaderProgram; }
    QGLShaderProgram *xRayShaderProgram() const { return m_xRayShaderProgram; }

    // --- Camera (derived values) ---

    float aspectRatio() const;           // width / height
    float horizontalFieldOfView() const; // radians
    QVector3D viewDirection() const;     // the camera's -z in world coordinates
    float nearPlane() const;
    float farPlane() const;
    QPointF orthoHalfSize() const; // half width and height of the parallel view, world units
    QPointF pixelSize() const;     // world size of a pixel in parallel projection
    QPointF pixelSizeAt(const QVector3D &point) const;
    QVector3D worldToCamera(const QVector3D &point) const;
    // The eye distance that frames a sphere of this radius (below 1e-5: the scene radius).
    float cameraDistance(double radius = 0.0) const;
    // The camera matrix of the frame, or the live GL model-view matrix in overlay mode.
    QMatrix4x4 modelViewMatrix() const;
    ViewState toViewState() const;
    ViewState toViewState(const QVector3D &center) const;
    // Bit 1: offsets or zooms differ; bit 2: orientations differ; 0: equal.
    static int compareViewStates(const ViewState &a, const ViewState &b);
    // The index of q among the standard views, appended when missing.
    int standardViewIndex(const QQuaternion &q);
    // Sets up the projection, the light and the camera matrix for the current size and camera.
    void setupProjection();

    // --- Window <-> world (window points in pixels, origin top left) ---

    // The scene point at this window point and depth max(minDepth, depth); zero without GL.
    QVector3D unproject(const QPointF &point, float depth);
    // The scene point under this pixel at the depth buffer's value, which goes to *depth (0 when
    // below minDepth); zero without GL, *depth then untouched.
    QVector3D unprojectPixel(const QPointF &point, float *depth = nullptr);
    QVector3D unprojectCenter();
    // The window point of a scene point; with frontOnly NaN when behind the camera or outside the
    // depth range. *depth receives the window depth when a point is returned.
    QPointF project(const QVector3D &point, bool frontOnly = false, double *depth = nullptr);
    // project, mirrored through the view centre when the point lies at or beyond the far plane.
    QPointF projectMirrored(const QVector3D &point);
    // The picked item index under a point after a colour picking pass; -1 when none.
    int colorIdAt(const QPointF &point);
    // The depth-buffer value under a pixel of the current context.
    float depthAt(const QPointF &point);
    // Pixel coordinates for overlay drawing (origin top left, y downwards) until endOverlayMode.
    void beginOverlayMode(float nearPlane, float farPlane);
    void endOverlayMode();

    // --- Frame helpers for the owner's slots ---

    // Sets the GL colour (unless face is GL_BACK) and, with material, that face's ambient and
    // diffuse material.
    void setGLColor(const QColor &color, GLenum face, bool material);
    void qglColor(const QColor &color);
    // Makes the offscreen pixel buffer current while one exists, else the surface.
    void makeCurrent();
    void swapBuffers();
    void setAutoBufferSwap(bool enabled);
    // The clip planes a, b, c, d (keeping a x + b y + c z + d >= 0) in scene coordinates: 4 or 8
    // values; and the same two planes in eye coordinates for the shaders (zero: off).
    QVector<double> clipPlaneEquations() const;
    QVector<QVector4D> clipPlanes() const;
    // Sets the uniforms of the program bound for the current pass.
    void setShaderUniforms();
    // Binds the fixed program in place of the wireframe program, when that is bound.
    void switchToFixedProgram();
    // Closed cone on the z axis (base at 0), cylinder and sphere, drawn filled with normals.
    void drawCone(float radius, float height, int slices, int stacks);
    void drawCylinder(float radius, float height, int slices, int stacks);
    void drawSphere(float radius, int slices, int stacks);

    // --- Offscreen frame grab ---

    // Makes an offscreen buffer of this size (negative: the widget's) the rendering target.
    void beginOffscreenBuffer(int width, int height, bool allowPixelBuffer);
    // The picture of the current offscreen buffer, opaque RGB32; null when there is none.
    QImage grabOffscreenImage();
    void endOffscreenBuffer();
    // The framebuffer object kept between grabs; null before the first grab or after a failure.
    QGLFramebufferObject *offscreenFramebuffer() const { return m_offscreenFramebuffer; }

    // --- Picking: number the items 0..count-1 and draw them between the item marks ---

    // An empty rect picks by colour (read back with colorIdAt); any other rect by occlusion
    // queries, or GL selection when queries are unavailable.
    void beginPicking(int count, const QRectF &rect);
    void beginPickItem(int index);
    void endPickItem();
    // The items hit in an occlusion or selection pass; empty after a colour pass.
    QVector<GLuint> pickedItems();
    void endPicking();
    // Overrides the occlusion-query answer of construction (false forces GL selection picking).
    void setOcclusionQueryAvailable(bool available);

    // --- Text labels ---

    // Lays label out (anchor and rect are written back) and queues a copy for this frame's text
    // overlay; the stored copy, or null when the label is empty, invisible or not finite.
    TextLabel *renderText(TextLabel &label);
    // The data of the first painted label with data whose rect holds point; invalid when none.
    QVariant textLabelDataAt(const QPoint &point) const;
    void clearTextLabels();
    const QList<TextLabel *> &textLabels() const { return m_textLabels; }

    // --- Default input handling, also for owners that connect the input signals ---

    void handleMousePress(QMouseEvent *event, float *depth = nullptr);
    void handleMouseMove(QMouseEvent *event);
    void handleMouseRelease(QMouseEvent *event);
    void handleWheel(QWheelEvent *event);
    // Freezes the view into a picture on which a rectangle is dragged (rectangleSelected).
    void setRectangularSelect(bool enabled);
    void setCursorShape(QCursor *cursor);
    Q_INVOKABLE void updateCursor();
    Q_INVOKABLE void setUpdatesEnabledInvokable(bool enable);

    // Camera stream: orientation, position, scene centre, scene radius, radius scale, zoom.
    friend QDataStream &operator<<(QDataStream &stream, const GLWidget &widget);
    // Reads only when the device's "Version" property is above 2, and applies only a sound
    // camera (stream Ok, finite values, positive radius, non-zero orientation).
    friend QDataStream &operator>>(QDataStream &stream, GLWidget &widget);

public slots:
    void refresh(bool immediate = false);
    void setAnimateClipPlane(bool enabled);
    void setAnimateZoom(bool enabled);
    void setAnimationDuration(int duration);
    void setAnimationEnabled(bool enabled);
    // Shows or hides the axis overlay in the bottom-left corner from the next frame on.
    void setAxis3DEnabled(bool enabled);
    // Rebuilds the surface with sample buffers or without. A multisampled surface is asked for with
    // an alpha channel and, when the display grants no such one, without it; when it grants none
    // at all the surface is built without sample buffers and the quarn.view category says so once.
    void setMultiSampling(bool enabled);
    void setSceneCenter(QVector3D center);
    void setSceneRadius(float radius);
    void setFieldOfView(float fieldOfView);
    void setFieldOfViewD(int degrees);
    void setHorizontalFieldOfView(float fieldOfView);
    void setCameraPosition(QVector3D position);
    void setCameraOrientation(QQuaternion orientation);
    void setViewState(ViewState viewState, bool animate);
    void setViewState(ViewState viewState);
    void setRotationCenter(QVector3D center);
    void setLines(bool enabled);
    void setHiddenLines(bool enabled);
    void setWireframe(bool enabled);
    void setShaders(bool enabled);
    void setXRayShading(bool enabled);
    void setLightingEnabled(bool enabled);
    void setBackFaceCulling(bool enabled);
    void setPerspective(bool enabled);
    void setUseDisplayLists(bool enabled);
    void setLockedView(bool enabled);
    void setMouseWrapAround(bool enabled);
    void setMouseZoomInverted(bool enabled);
    void setClipHighlight(float z);
    void setClipDirection(Clip::Direction type);
    void setClipOffset(double z);
    void setDelayedMouseTimerInterval(int msec);
    void setMouseSelect(bool enabled);
    void setModelCursors(bool enabled);
    void setRotationMode(GLWidget::RotationMode rotationMode);
    void setBackgroundBottomColor(QColor color);
    void setBackgroundTopColor(QColor color);
    void setEdgeColor(QColor color);
    void setAltFillColor(QColor color);
    void setFillColor(QColor color);
    void setBackFillColor(QColor color);
    void setOffsideFillColor(QColor color);
    // The camera actions below (and setPerspective, setViewState and the mouse's drags and wheel)
    // first end a running animation where it was heading: each ends where it would once that
    // animation had settled.
    // Standard views: 0 top, 1 bottom, 2 and 3 back and front, 4 and 5 the sides, 6 to 9
    // isometric; asking for the view the camera already has (or is heading for) gives its pair.
    // Other indices are ignored.
    void setViewingAngle(int viewAngle, bool animate = false);
    void setViewingAngle(int viewAngle, QVector3D center, float radius, bool animate = false);
    void zoomIn(bool animate = false);
    void zoomOut(bool animate = false);
    void zoomToAll(bool animate = false);
    void zoomToAll(QVector3D center, float radius, bool animate = false);
    void zoomToAllImpl(QVector3D center, float radius, bool animate = false);
    void zoomToBox(QRect box, bool animate = false);
    // Zooms by factor (> 0 in, < 0 out, 0 nothing) keeping the scene point under point in place.
    void zoomToViewPoint(QPointF point, float factor = 0.2f, bool animate = false);
    void animate(ViewState start, ViewState end);
    void animateFlush(bool refresh = false);
    void animationRefresh();
    void resetCursor();
    void on_delayedMouseTimer_timeout();
    void selectRectangle();
    void freeDisplayList();

protected slots:
    void initializeGL();
    void paintGL();
    void resizeGL(int width, int height);

signals:
    void contextMenu(QPoint point);
    void frameBufferReady(QImage frameBuffer);
    void keyPress(QKeyEvent *event);
    void keyRelease(QKeyEvent *event);
    void mouseClicked(QMouseEvent *event);
    void mouseDoubleClicked(QMouseEvent *event);
    void mousePress(QMouseEvent *event);
    void mouseRelease(QMouseEvent *event);
    void mouseMove(QMouseEvent *event);
    void mouseWheel(QWheelEvent *event);
    void rotationChanged(QQuaternion rotation);
    void zoomChanged(float percent);
    void useDisplayListsChanged(bool enabled);
    void displayListCompiling();
    void displayListCompiled();
    void configureScene(GLWidget *widget);
    void preRenderScene(GLWidget *widget);
    void renderScene(GLWidget *widget);
    void postRenderScene(GLWidget *widget);
    void renderOverlay(GLWidget *widget);
    void lockedViewMousePress(QMouseEvent *event);
    void lockedViewMouseRelease(QMouseEvent *event);
    void rectangleSelected(bool partial, QRect rect);
    void rectangularSelectToggled(bool enabled);
    void viewResized(int width, int height);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    // One scene pass: clip planes, program and the renderScene signal.
    void renderScenePass();
    // The axis overlay and the painted text labels of a frame.
    void renderFrame();
    void paintOverlay();

private:
    // What the projection and the camera matrix are made from (setupProjection).
    struct Camera
    {
        QVector3D sceneCenter;
        float sceneRadius = 1.0f;
        float fieldOfView = 0.7853982f; // vertical, radians
        QVector3D position;
        QQuaternion orientation;
        float radiusScale = 1.0f;
        float zoom = 1.0f;
        bool perspective = false;

        bool operator==(const Camera &other) const;
    };
    // The camera of a frame, with the size it was drawn at.
    struct FrameCamera
    {
        QSize size;
        Camera camera;

        bool operator==(const FrameCamera &other) const
        {
            return size == other.size && camera == other.camera;
        }
    };

    // Whether one of this view's signals has a receiver: the input events go to the owner only
    // then, else the view handles them itself.
    template <typename Signal>
    bool isConnected(Signal signal) const;
    // Builds the surface (see setMultiSampling) and places it in the layout.
    void createGLWindow(QGLFormat format);
    void cacheDriverFacts();
    void buildShaderPrograms();

    // The scene passes of a frame, chosen by the rendering switches: lighting off, X-ray, lines by
    // the wireframe program, or fixed-function fill and line passes.
    void renderPasses();
    void renderXRayPasses();
    void renderWireframeProgramPasses();
    // A pass with lines off, then one of lines alone over it without depth test (hidden lines or
    // wireframe); culled: back faces were culled for the first pass only.
    void renderLinesOverFill(bool culled);
    void renderLitFillPass();
    void renderEdgePass();
    // A scene pass of the fill that in wireframe mode writes depth only.
    void renderFillScenePass();

    // The steps of the axis overlay (renderFrame). windowRect is its square in GL window
    // coordinates. The scene's depth under the square is copied aside before the arrows draw
    // there and put back after them.
    enum class AxisDepthCopy
    {
        None,     // not kept: animating, or a multisampled grab
        InBuffer, // blitted into m_axisDepthBuffer
        InMemory  // read into m_axisDepthPixels
    };
    void drawAxisDisc();
    AxisDepthCopy saveAxisDepth(const QRect &windowRect);
    // One depth blit between the window and m_axisDepthBuffer; false, and no blits from then on,
    // when the driver refuses it.
    bool blitAxisDepth(bool save, const QRect &windowRect);
    void drawAxisArrows();
    void labelAxes();
    void restoreAxisDepth(AxisDepthCopy kept, const QRect &windowRect);

    void applyViewState(const ViewState &state);
    FrameCamera frameCamera() const;
    // Brings the camera to rest before an action maps window points to the scene: a running
    // animation ends where it was heading, and the GL matrices are set up for the camera; with
    // readsDepth, a frame of that camera is drawn first when the window's depth buffer holds
    // another one.
    void settleCamera(bool readsDepth);
    ViewState interpolate(const ViewState &a, const ViewState &b, double t) const;
    QVector3D trackballPoint(const QPointF &point, bool clamp) const;
    // True while an offscreen buffer of beginOffscreenBuffer takes the drawing in place of the
    // window.
    bool drawsOffscreen() const;
    void grabFrame();

    GLWindow *m_glWindow = nullptr;
    int m_surfaceSamples = 0; // of the surface's framebuffer, read in its context
    bool m_glInitialized = false;
    QImage m_frameImage;
    QImage m_backdropImage;
    QPoint m_pressPosition;
    QCursor m_defaultCursor;
    QCursor m_rotateCursor;
    QCursor m_rotateModelCursor;
    QCursor m_tiltCursor;
    QCursor m_panCursor;
    QCursor m_panModelCursor;
    QCursor m_zoomCursor;
    QCursor m_zoomModelCursor;
    QCursor m_crosshairCursor;
    bool m_animateClipPlane = true;
    bool m_animateZoom = true;
    QPropertyAnimation *m_animation = nullptr;
    int m_animationDuration = 200;
    ViewState m_animationStart;
    ViewState m_animationEnd;
    QRect m_axisViewRect;
    QRect m_axisBufferRect;
    bool m_axis3DEnabled = true;
    QGLFramebufferObject *m_axisDepthBuffer = nullptr;
    QVector<QPointF> m_axisCircle;
    QByteArray m_axisDepthPixels;
    Camera m_camera;
    QMatrix4x4 m_modelViewMatrix;
    QVector3D m_rotationCenter;
    float m_minDepth = 0.0005f;
    bool m_lines = false;
    bool m_hiddenLines = false;
    bool m_painting = false;
    bool m_wireframe = false;
    bool m_shaders = false;
    bool m_xRayShading = false;
    bool m_occlusionQueryAvailable = false;
    bool m_useDisplayLists = false;
    bool m_lightingEnabled = true;
    bool m_lockedView = false;
    bool m_moved = false;
    float m_clipHighlight = 0.01f;
    Clip::Direction m_clipDirection = Clip::NoClip;
    double m_clipOffset = 0.0;
    bool m_mouseSelect = false;
    bool m_dragging = false;
    bool m_mouseWrapAround = false;
    bool m_mouseZoomInverted = false;
    bool m_backFaceCulling = false;
    bool m_modelCursors = false;
    RotationMode m_rotationMode = RotateFree;
    QVector<QQuaternion> m_standardViews;
    QColor m_backgroundBottomColor;
    QColor m_backgroundTopColor;
    QColor m_edgeColor;
    QColor m_altFillColor;
    QColor m_fillColor;
    QColor m_offsideFillColor;
    QColor m_backFillColor;
    QVector<GLuint> m_pickIds;
    bool m_pickingActive = false;
    bool m_selectionEnded = false; // pickedItems has left GL selection mode
    QList<TextLabel *> m_textLabels;
    GLuint m_displayList = 0;
    QPoint m_lastPointerPosition;
    QVector3D m_panAnchor;
    QCursor *m_currentCursor = nullptr;
    QMouseEvent m_pendingPress;
    QTimer *m_delayedMouseTimer = nullptr;
    bool m_overlayMatrixActive = false;
    QGLFramebufferObject *m_offscreenFramebuffer = nullptr;
    QGLPixelBuffer *m_offscreenPixelBuffer = nullptr;
    bool m_offscreenPushed = false;
    // What the window's depth buffer was drawn with; an empty size when it holds no frame of ours.
    FrameCamera m_drawnFrame;
    QGLShaderProgram *m_wireframeShaderProgram = nullptr;
    QGLShaderProgram *m_fixedShaderProgram = nullptr;
    QGLShaderProgram *m_fixedColorShaderProgram = nullptr;
    QGLShaderProgram *m_xRayShaderProgram = nullptr;
    GLuint m_boundProgramId = 0;
};

Q_DECLARE_METATYPE(GLWidget::TextLabel)
