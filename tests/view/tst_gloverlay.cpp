#include "cubeowner.h"
#include "messagecapture.h"
#include "view/glscope.h"
#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QtTest>

// Picking by colour, occlusion queries and GL selection; text-label layout and lookup; the axis
// overlay and the scene depth under it.
class TestGLOverlay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void colorPicking();
    void rectanglePicking_data();
    void rectanglePicking();
    void selectionLeftWithoutReadingPicks();
    void labelAnchors_data();
    void labelAnchors();
    void labelVisibility();
    void boxedLabelsFirstAndLookup();
    void axisOverlay_data();
    void axisOverlay();

private:
    // Items 0 to 2 side by side across the middle of the view, item 3 behind item 1.
    void drawItems(int count);
    GLWidget *m_widget = nullptr;
};

void TestGLOverlay::init()
{
    m_widget = new GLWidget;
    m_widget->setMultiSampling(false);
    m_widget->setAnimationEnabled(false);
    m_widget->resize(200, 200);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget));
    QTRY_VERIFY(m_widget->isGLInitialized());
    // Top view, parallel: x from -1 to 1 spans the window's width.
    m_widget->setSceneCenter(QVector3D());
    m_widget->setSceneRadius(1.0f);
    m_widget->setViewingAngle(0);
    if (m_widget->cameraOrientation() != QQuaternion())
        m_widget->setViewingAngle(0);
    m_widget->zoomToAll();
}

void TestGLOverlay::cleanup()
{
    delete m_widget;
    m_widget = nullptr;
}

void TestGLOverlay::drawItems(int count)
{
    const float left[] = {-0.9f, -0.2f, 0.5f, -0.2f};
    const float depth[] = {0.0f, 0.0f, 0.0f, -0.5f};
    for (int i = 0; i < count; ++i) {
        m_widget->beginPickItem(i);
        glBegin(GL_QUADS);
        glNormal3f(0, 0, 1);
        glVertex3f(left[i], -0.2f, depth[i]);
        glVertex3f(left[i] + 0.4f, -0.2f, depth[i]);
        glVertex3f(left[i] + 0.4f, 0.2f, depth[i]);
        glVertex3f(left[i], 0.2f, depth[i]);
        glEnd();
        m_widget->endPickItem();
    }
}

void TestGLOverlay::colorPicking()
{
    for (bool shaders : {false, true}) {
        m_widget->setShaders(shaders);
        m_widget->beginPicking(3, QRectF());
        QCOMPARE(m_widget->property("Picking").toBool(), true);
        drawItems(3);
        const QPoint centres[] = {QPoint(30, 100), QPoint(100, 100), QPoint(170, 100)};
        const QRgb expected[] = {qRgb(255, 255, 255), qRgb(255, 255, 254), qRgb(255, 255, 253)};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_widget->colorIdAt(centres[i]), i);
            GLubyte pixel[4];
            glReadPixels(centres[i].x(), 200 - centres[i].y(), 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
            QCOMPARE(qRgb(pixel[0], pixel[1], pixel[2]), expected[i]);
        }
        QCOMPARE(m_widget->colorIdAt(QPoint(100, 20)), -1); // cleared background
        QVERIFY(m_widget->pickedItems().isEmpty());
        m_widget->endPicking();
        QCOMPARE(m_widget->property("Picking").toBool(), false);
        QCOMPARE(m_widget->colorIdAt(QPoint(100, 100)), -1);
        QVERIFY(QGL::glErrors().isEmpty());
    }
}

void TestGLOverlay::rectanglePicking_data()
{
    QTest::addColumn<bool>("occlusion");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QVector<GLuint>>("expected");

    const QRectF all(0, 80, 200, 40);
    const QRectF middle(95, 95, 10, 10);
    const QRectF empty(100, 20, 10, 10);
    // Queries answer ascending indices; selection answers names in the order of its hit records.
    QTest::newRow("occlusion, all") << true << all << QVector<GLuint>{0, 1, 2, 3};
    QTest::newRow("occlusion, middle with the hidden item") << true << middle << QVector<GLuint>{1, 3};
    QTest::newRow("occlusion, nothing") << true << empty << QVector<GLuint>{};
    QTest::newRow("selection, all") << false << all << QVector<GLuint>{0, 1, 2, 3};
    QTest::newRow("selection, middle with the hidden item") << false << middle << QVector<GLuint>{1, 3};
    QTest::newRow("selection, nothing") << false << empty << QVector<GLuint>{};
}

void TestGLOverlay::rectanglePicking()
{
    QFETCH(bool, occlusion);
    QFETCH(QRectF, rect);
    QFETCH(QVector<GLuint>, expected);
    QVERIFY(m_widget->occlusionQueryAvailable());
    if (!occlusion)
        m_widget->setOcclusionQueryAvailable(false);
    m_widget->beginPicking(4, rect);
    drawItems(4);
    QCOMPARE(m_widget->pickedItems(), expected);
    m_widget->endPicking();
    GLint mode = 0;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    QCOMPARE(mode, GLint(GL_RENDER));
    QVERIFY(QGL::glErrors().isEmpty());

    // Nothing is started for no items, and the matching end does nothing.
    m_widget->beginPicking(0, rect);
    QVERIFY(!m_widget->property("Picking").toBool());
    m_widget->endPicking();
}

void TestGLOverlay::selectionLeftWithoutReadingPicks()
{
    // A selection pass ended without reading its picks must not leave GL in selection mode.
    auto *owner = new CubeOwner(m_widget);
    Q_UNUSED(owner);
    m_widget->setOcclusionQueryAvailable(false);
    m_widget->beginPicking(4, QRectF(0, 80, 200, 40));
    drawItems(4);
    m_widget->endPicking();
    GLint mode = 0;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    QCOMPARE(mode, GLint(GL_RENDER));

    const QImage frame = grabFrame(*m_widget);
    saveArtefact(frame, "overlay_after_selection");
    // The cube (scene radius 0.87 set by its owner) fills the middle in its fill colour.
    const QColor middle(frame.pixel(100, 100));
    QVERIFY2(middle.red() > 150 && middle.blue() < 80, qPrintable(middle.name()));
    QVERIFY(QGL::glErrors().isEmpty());
}

void TestGLOverlay::labelAnchors_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<double>("xFactor"); // anchor = position - (xFactor w, yFactor h)
    QTest::addColumn<double>("yFactor");

    QTest::newRow("left top") << int(Qt::AlignLeft | Qt::AlignTop) << 0.0 << 0.0;
    QTest::newRow("right vcenter") << int(Qt::AlignRight | Qt::AlignVCenter) << 1.0 << 0.5;
    QTest::newRow("hcenter bottom") << int(Qt::AlignHCenter | Qt::AlignBottom) << 0.5 << 1.0;
    QTest::newRow("none") << 0 << 0.0 << 0.0;
}

void TestGLOverlay::labelAnchors()
{
    QFETCH(int, alignment);
    QFETCH(double, xFactor);
    QFETCH(double, yFactor);
    GLWidget::TextLabel label;
    label.text = QStringLiteral("Ruler 12.5 mm");
    label.position = QPointF(100, 50);
    label.alignment = alignment;
    GLWidget::TextLabel *stored = m_widget->renderText(label);
    QVERIFY(stored);
    const QRect bounds =
        QFontMetrics(m_widget->glWindow()->font()).boundingRect(QRect(0, 0, 4096, 4096), 0, label.text);
    const QPointF anchor(100 - xFactor * bounds.width(), 50 - yFactor * bounds.height());
    QCOMPARE(label.anchor, anchor);
    QCOMPARE(stored->anchor, anchor);
    QCOMPARE(stored->rect, QRectF(bounds).translated(anchor));
    QCOMPARE(stored->text, label.text);
}

void TestGLOverlay::labelVisibility()
{
    const QFontMetrics metrics(m_widget->glWindow()->font());
    GLWidget::TextLabel label;
    label.text = QStringLiteral("Far label");
    label.alignment = Qt::AlignLeft | Qt::AlignTop;
    const QRectF view(0, 0, 200, 200);

    // Partly outside: shown as it is without keepInView.
    label.position = QPointF(180, 100);
    GLWidget::TextLabel *partly = m_widget->renderText(label);
    QVERIFY(partly);
    QCOMPARE(partly->anchor, QPointF(180, 100));

    // Wholly outside: dropped, unless kept in view; then moved towards the centre until inside.
    label.position = QPointF(-300, 100);
    QVERIFY(!m_widget->renderText(label));
    label.keepInView = true;
    GLWidget::TextLabel *kept = m_widget->renderText(label);
    QVERIFY(kept);
    QVERIFY2(view.contains(kept->rect), qPrintable(QString("%1 %2").arg(kept->rect.x()).arg(kept->rect.y())));
    QVERIFY(kept->rect.left() < 2.0);

    // Not drawn: no text, a transparent colour, or a position that did not project.
    const int count = m_widget->textLabels().size();
    GLWidget::TextLabel empty = label;
    empty.text.clear();
    QVERIFY(!m_widget->renderText(empty));
    GLWidget::TextLabel transparent = label;
    transparent.color = QColor(255, 0, 0, 0);
    QVERIFY(!m_widget->renderText(transparent));
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        GLWidget::TextLabel behind = label;
        behind.position = QPointF(bad, 100);
        behind.rect = QRectF();
        QVERIFY(!m_widget->renderText(behind));
        QVERIFY(behind.rect.isNull());
    }
    QCOMPARE(m_widget->textLabels().size(), count);
    Q_UNUSED(metrics);
}

void TestGLOverlay::boxedLabelsFirstAndLookup()
{
    m_widget->setAxis3DEnabled(false); // only the owner's labels
    connect(m_widget, &GLWidget::renderOverlay, [](GLWidget *widget) {
        GLWidget::TextLabel plain;
        plain.text = QStringLiteral("plain");
        plain.position = QPointF(20, 20);
        plain.background = QBrush(Qt::NoBrush);
        plain.data = QStringLiteral("plain data");
        widget->renderText(plain);
        GLWidget::TextLabel boxed; // default colour and brush: white on a translucent box
        boxed.text = QStringLiteral("boxed");
        boxed.position = QPointF(20, 60);
        boxed.data = 42;
        widget->renderText(boxed);
        GLWidget::TextLabel noData;
        noData.text = QStringLiteral("no data");
        noData.position = QPointF(20, 100);
        widget->renderText(noData);
    });
    const QImage frame = grabFrame(*m_widget);
    saveArtefact(frame, "overlay_labels");
    const QList<GLWidget::TextLabel *> &labels = m_widget->textLabels();
    QCOMPARE(labels.size(), 3);
    QCOMPARE(labels.at(0)->text, QString("no data")); // boxes first, each prepended
    QCOMPARE(labels.at(1)->text, QString("boxed"));
    QCOMPARE(labels.at(2)->text, QString("plain"));
    for (const GLWidget::TextLabel *label : labels)
        QVERIFY(label->drawn);
    QCOMPARE(labels.at(1)->background, GLWidget::defaultLabelBrush);

    QCOMPARE(m_widget->textLabelDataAt(labels.at(2)->rect.center().toPoint()), QVariant("plain data"));
    QCOMPARE(m_widget->textLabelDataAt(labels.at(1)->rect.center().toPoint()), QVariant(42));
    QVERIFY(!m_widget->textLabelDataAt(labels.at(0)->rect.center().toPoint()).isValid());
    QVERIFY(!m_widget->textLabelDataAt(QPoint(190, 190)).isValid());
    // The box behind a default label is darker than the background around it.
    const QPoint beside = labels.at(1)->rect.topLeft().toPoint() - QPoint(1, 1);
    QVERIFY(qGray(frame.pixel(beside)) < qGray(frame.pixel(150, labels.at(1)->rect.center().y())));

    // A label stored but not painted yet is not found.
    m_widget->clearTextLabels();
    GLWidget::TextLabel fresh;
    fresh.text = QStringLiteral("fresh");
    fresh.position = QPointF(20, 140);
    fresh.data = 7;
    GLWidget::TextLabel *stored = m_widget->renderText(fresh);
    QVERIFY(stored);
    QVERIFY(!m_widget->textLabelDataAt(stored->rect.center().toPoint()).isValid());
}

void TestGLOverlay::axisOverlay_data()
{
    QTest::addColumn<bool>("multiSampling");
    QTest::newRow("single-sampled") << false;
    QTest::newRow("multisampled") << true;
}

void TestGLOverlay::axisOverlay()
{
    QFETCH(bool, multiSampling);
    if (multiSampling) {
        m_widget->setMultiSampling(true);
        if (!m_widget->multiSampling())
            QSKIP("no multisampled surface on this display");
        QTRY_VERIFY(m_widget->isGLInitialized());
    }
    // The scene: a plane at z = 0 filling the whole view.
    connect(m_widget, &GLWidget::renderScene, [](GLWidget *) {
        glBegin(GL_QUADS);
        glNormal3f(0, 0, 1);
        glVertex3f(-5, -5, 0);
        glVertex3f(5, -5, 0);
        glVertex3f(5, 5, 0);
        glVertex3f(-5, 5, 0);
        glEnd();
    });
    m_widget->setFillColor(QColor(200, 200, 200));
    QImage frame;
    {
        // The grab raises no GL error (a multisampled grab buffer refuses pixel reads).
        meshtest::MessageCapture capture;
        frame = grabFrame(*m_widget);
        QVERIFY2(capture.messages().isEmpty(), qPrintable(capture.messages().join(QLatin1Char('\n'))));
    }
    saveArtefact(frame, multiSampling ? "overlay_axis_multisampled" : "overlay_axis");
    QVERIFY(!frame.isNull());
    bool red = false, green = false, blue = false;
    for (int y = 200 - 128; y < 200; ++y)
        for (int x = 0; x < 128; ++x) {
            const QColor c(frame.pixel(x, y));
            red |= c.red() > 150 && c.green() < 80 && c.blue() < 80;
            green |= c.green() > 150 && c.red() < 80 && c.blue() < 80;
            blue |= c.blue() > 150 && c.red() < 80 && c.green() < 80;
        }
    QVERIFY(red && green && blue);
    // Nowhere else: the top-right corner shows only the scene.
    const QColor far(frame.pixel(190, 10));
    QVERIFY(std::abs(far.red() - far.blue()) < 10);

    // On screen, after the frame, the depth under the sphere in the middle of the overlay is the
    // scene's, not the overlay's.
    m_widget->refresh(true);
    m_widget->makeCurrent();
    const float underAxis = m_widget->depthAt(QPointF(64, 200 - 64));
    const float elsewhere = m_widget->depthAt(QPointF(150, 50));
    QVERIFY2(std::fabs(underAxis - elsewhere) < 1e-5f,
             qPrintable(QString("%1 %2").arg(underAxis).arg(elsewhere)));
    QVERIFY(elsewhere > m_widget->minDepth() && elsewhere < 1.0f);
    QVERIFY(QGL::glErrors().isEmpty());
}

QTEST_MAIN(TestGLOverlay)
#include "tst_gloverlay.moc"
