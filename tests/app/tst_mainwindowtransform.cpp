// Moving, turning, scaling and mirroring the model: the transform panel and its dialog driven by
// keys and clicks, the window's undoable commands, lay-flat, and saving what is shown.
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/transformpanel.h"
#include "app/translatetoorigindialog.h"
#include "batchfixtures.h"
#include "geom/mesh/stlmesh.h"
#include "mainwindowfixture.h"
#include "meshbuilders.h"
#include "modaldialoganswerer.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QToolButton>
#include <QUndoStack>
#include <QVector3D>
#include <QtTest>

#include <cstring>
#include <memory>

using widgettest::chooseFile;
using widgettest::chooseItem;
using widgettest::ModalDialogAnswerer;
using widgettest::retype;

using Offsets = QList<qreal>;
Q_DECLARE_METATYPE(Offsets)

class TestMainWindowTransform : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void uniformScaleFillsAndApplyResets();
    void applyScaleModifiers_data();
    void applyScaleModifiers();
    void returnAndArrowsEmit_data();
    void returnAndArrowsEmit();
    void axisButtonsStayExclusive_data();
    void axisButtonsStayExclusive();
    void fieldsReadTheCLocale();
    void originDialogKeepsOneChoicePerAxis();
    void translateToOrigin_data();
    void translateToOrigin();
    void undoRedoSwapsExactMatrices();
    void turnsAndScalesAboutTheModelOrigin();
    void pushAfterUndosDropsTheRedo();
    void noModelNoCommand();
    void layFacetFlat_data();
    void layFacetFlat();
    void transformedModelSavesAsShown_data();
    void transformedModelSavesAsShown();

private:
    static QMatrix4x4 modelMatrix(const MainWindow *window) { return window->d->modelMatrix; }
    static QUndoStack *undoStack(const MainWindow *window) { return window->d->undoStack; }
    static const geom::StlMesh *mesh(const MainWindow *window) { return window->d->mesh.get(); }
    static geom::Cuboid sceneBounds(const MainWindow *window) { return window->d->sceneBounds; }
};

namespace {

template <typename T>
T *child(QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

std::unique_ptr<TransformPanel> shownPanel()
{
    auto panel = std::make_unique<TransformPanel>();
    panel->show();
    panel->activateWindow();
    if (!QTest::qWaitForWindowActive(panel.get()))
        qWarning("panel not active");
    return panel;
}

Offsets argumentsOf(const QList<QVariant> &signal)
{
    Offsets values;
    for (const QVariant &v : signal)
        values << v.toDouble();
    return values;
}

// A box from (-1, 0, 0) to (5, 2, 3): wider in X than in Y, not centred on the origin.
QVector<geom::Facet> fixtureBox()
{
    return meshtest::box(geom::Vector3f(-1, 0, 0), geom::Vector3f(5, 2, 3));
}

std::unique_ptr<MainWindow> windowWithBox(const QString &folder)
{
    const QString path = folder + QStringLiteral("/box.stl");
    if (!batchtest::writeStl(path, fixtureBox()))
        qWarning("fixture not written");
    return widgettest::mainWindowWith(path);
}

bool sameBits(const QMatrix4x4 &a, const QMatrix4x4 &b)
{
    return std::memcmp(a.constData(), b.constData(), 16 * sizeof(float)) == 0;
}

QVector3D toQ(const geom::Vector3f &v)
{
    return QVector3D(v.x, v.y, v.z);
}

// The outward unit normal of every facet in world space, whatever the matrix's handedness.
QVector<QVector3D> worldNormals(const geom::StlMesh *mesh, const QMatrix4x4 &model)
{
    QVector<QVector3D> normals;
    const float side = model.determinant() < 0 ? -1.0f : 1.0f;
    for (const geom::IndexedFacet &f : mesh->indices()) {
        const QVector3D a = model.map(toQ(mesh->vertices().at(f.a)));
        const QVector3D b = model.map(toQ(mesh->vertices().at(f.b)));
        const QVector3D c = model.map(toQ(mesh->vertices().at(f.c)));
        normals << side * QVector3D::crossProduct(b - a, c - a).normalized();
    }
    return normals;
}

bool near(const QVector3D &a, const QVector3D &b, float tolerance = 1e-5f)
{
    return (a - b).length() <= tolerance;
}

} // namespace

void TestMainWindowTransform::init()
{
    QSettings().clear();
    QLocale::setDefault(QLocale::c());
}

void TestMainWindowTransform::uniformScaleFillsAndApplyResets()
{
    const auto panel = shownPanel();
    auto *x = child<QLineEdit>(panel.get(), "scaleXLineEdit");
    auto *y = child<QLineEdit>(panel.get(), "scaleYLineEdit");
    auto *z = child<QLineEdit>(panel.get(), "scaleZLineEdit");
    auto *apply = child<QToolButton>(panel.get(), "applyScaleToolButton");
    auto *uniform = child<QCheckBox>(panel.get(), "uniformScaleCheckBox");
    QSignalSpy scaled(panel.get(), &TransformPanel::scale);
    QVERIFY(!apply->isEnabled());
    QVERIFY(!y->isEnabled() && !z->isEnabled());

    retype(x, QStringLiteral("2"));
    QCOMPARE(y->text(), QStringLiteral("2"));
    QCOMPARE(z->text(), QStringLiteral("2"));
    QVERIFY(apply->isEnabled());
    QTest::mouseClick(apply, Qt::LeftButton);
    QCOMPARE(scaled.size(), 1);
    QCOMPARE(argumentsOf(scaled.takeFirst()), (Offsets{2, 2, 2}));
    for (QLineEdit *edit : {x, y, z})
        QCOMPARE(edit->text(), QStringLiteral("1.0000"));
    QVERIFY(!apply->isEnabled());
    QVERIFY(x->hasFocus());
    QCOMPARE(x->selectedText(), QStringLiteral("1.0000"));

    // Return applies as well; a factor of 0 counts as 1, and all zeros cannot be applied.
    QTest::mouseClick(uniform, Qt::LeftButton);
    QVERIFY(y->isEnabled() && z->isEnabled());
    QCOMPARE(y->text(), QStringLiteral("1.0000"));
    retype(x, QStringLiteral("0"));
    retype(y, QStringLiteral("5"));
    QTest::keyClick(y, Qt::Key_Return);
    QCOMPARE(scaled.size(), 1);
    QCOMPARE(argumentsOf(scaled.takeFirst()), (Offsets{1, 5, 1}));
    for (QLineEdit *edit : {x, y, z})
        retype(edit, QStringLiteral("0"));
    QVERIFY(!apply->isEnabled());
    QTest::keyClick(z, Qt::Key_Return);
    QCOMPARE(scaled.size(), 0);

    // Uniform again copies X into both.
    retype(x, QStringLiteral("3"));
    QTest::mouseClick(uniform, Qt::LeftButton);
    QCOMPARE(y->text(), QStringLiteral("3"));
    QCOMPARE(z->text(), QStringLiteral("3"));
    QVERIFY(!y->isEnabled() && !z->isEnabled());
}

void TestMainWindowTransform::applyScaleModifiers_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<Offsets>("expected");
    QTest::addColumn<bool>("kept");
    QTest::newRow("plain") << int(Qt::NoModifier) << Offsets{2, 4, 1} << false;
    QTest::newRow("shift applies the inverse") << int(Qt::ShiftModifier) << Offsets{0.5, 0.25, 1} << false;
    QTest::newRow("alt keeps the fields") << int(Qt::AltModifier) << Offsets{2, 4, 1} << true;
}

void TestMainWindowTransform::applyScaleModifiers()
{
    QFETCH(int, modifiers);
    QFETCH(Offsets, expected);
    QFETCH(bool, kept);
    const auto panel = shownPanel();
    auto *apply = child<QToolButton>(panel.get(), "applyScaleToolButton");
    QTest::mouseClick(child<QCheckBox>(panel.get(), "uniformScaleCheckBox"), Qt::LeftButton);
    retype(child<QLineEdit>(panel.get(), "scaleXLineEdit"), QStringLiteral("2"));
    retype(child<QLineEdit>(panel.get(), "scaleYLineEdit"), QStringLiteral("4"));
    QSignalSpy scaled(panel.get(), &TransformPanel::scale);
    QTest::mouseClick(apply, Qt::LeftButton, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(scaled.size(), 1);
    QCOMPARE(argumentsOf(scaled.takeFirst()), expected);
    QCOMPARE(child<QLineEdit>(panel.get(), "scaleYLineEdit")->text(),
             kept ? QStringLiteral("4") : QStringLiteral("1.0000"));
    QCOMPARE(apply->isEnabled(), kept);
    QTest::mouseClick(apply, Qt::LeftButton);
    QCOMPARE(scaled.size(), kept ? 1 : 0);
}

void TestMainWindowTransform::returnAndArrowsEmit_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<Offsets>("expected");
    for (const char *field : {"translateXLineEdit", "translateYLineEdit", "translateZLineEdit"}) {
        QTest::addRow("return in %s", field)
            << field << QString() << int(Qt::NoModifier) << "translate" << Offsets{1, 2, 3};
        QTest::addRow("shift+return in %s", field)
            << field << QString() << int(Qt::ShiftModifier) << "translate" << Offsets{-1, -2, -3};
    }
    QTest::newRow("translate up") << QString() << "translateUpToolButton" << int(Qt::NoModifier)
                                  << "translate" << Offsets{1, 2, 3};
    QTest::newRow("translate down, shift ignored")
        << QString() << "translateDownToolButton" << int(Qt::ShiftModifier) << "translate"
        << Offsets{-1, -2, -3};
    QTest::newRow("return in angle") << "rotateLineEdit" << QString() << int(Qt::NoModifier) << "rotate"
                                     << Offsets{45, 0, 1, 0};
    QTest::newRow("shift+return in angle")
        << "rotateLineEdit" << QString() << int(Qt::ShiftModifier) << "rotate" << Offsets{-45, 0, 1, 0};
    QTest::newRow("rotate up") << QString() << "rotateUpToolButton" << int(Qt::NoModifier) << "rotate"
                               << Offsets{45, 0, 1, 0};
    QTest::newRow("rotate down") << QString() << "rotateDownToolButton" << int(Qt::NoModifier) << "rotate"
                                 << Offsets{-45, 0, 1, 0};
    QTest::newRow("mirror") << QString() << "applyMirrorToolButton" << int(Qt::NoModifier) << "scale"
                            << Offsets{1, -1, 1};
}

void TestMainWindowTransform::returnAndArrowsEmit()
{
    QFETCH(QString, field);
    QFETCH(QString, button);
    QFETCH(int, modifiers);
    QFETCH(QString, signal);
    QFETCH(Offsets, expected);
    const auto panel = shownPanel();
    retype(child<QLineEdit>(panel.get(), "translateXLineEdit"), QStringLiteral("1"));
    retype(child<QLineEdit>(panel.get(), "translateYLineEdit"), QStringLiteral("2"));
    retype(child<QLineEdit>(panel.get(), "translateZLineEdit"), QStringLiteral("3"));
    QTest::mouseClick(child<QToolButton>(panel.get(), "rotateYToolButton"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(panel.get(), "mirrorYToolButton"), Qt::LeftButton);
    QSignalSpy translated(panel.get(), &TransformPanel::translate);
    QSignalSpy rotated(panel.get(), &TransformPanel::rotate);
    QSignalSpy scaled(panel.get(), &TransformPanel::scale);

    const auto mods = Qt::KeyboardModifiers(modifiers);
    if (!field.isEmpty()) {
        auto *edit = child<QLineEdit>(panel.get(), qPrintable(field));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return, mods);
    } else {
        QTest::mouseClick(child<QToolButton>(panel.get(), qPrintable(button)), Qt::LeftButton, mods);
    }
    QSignalSpy &wanted = signal == QLatin1String("translate") ? translated
                         : signal == QLatin1String("rotate")  ? rotated
                                                              : scaled;
    QCOMPARE(translated.size() + rotated.size() + scaled.size(), 1);
    QCOMPARE(wanted.size(), 1);
    QCOMPARE(argumentsOf(wanted.takeFirst()), expected);
}

void TestMainWindowTransform::axisButtonsStayExclusive_data()
{
    QTest::addColumn<QStringList>("group");
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("checked");
    const QStringList rotate{"rotateXToolButton", "rotateYToolButton", "rotateZToolButton"};
    const QStringList mirror{"mirrorXToolButton", "mirrorYToolButton", "mirrorZToolButton"};
    QTest::newRow("rotate: start") << rotate << QStringList() << "rotateZToolButton";
    QTest::newRow("rotate: the checked one again")
        << rotate << QStringList{"rotateZToolButton"} << "rotateZToolButton";
    QTest::newRow("rotate: X then Y")
        << rotate << QStringList{"rotateXToolButton", "rotateYToolButton"} << "rotateYToolButton";
    QTest::newRow("mirror: start") << mirror << QStringList() << "mirrorXToolButton";
    QTest::newRow("mirror: the checked one again")
        << mirror << QStringList{"mirrorXToolButton"} << "mirrorXToolButton";
    QTest::newRow("mirror: Z") << mirror << QStringList{"mirrorZToolButton"} << "mirrorZToolButton";
}

void TestMainWindowTransform::axisButtonsStayExclusive()
{
    QFETCH(QStringList, group);
    QFETCH(QStringList, clicks);
    QFETCH(QString, checked);
    const auto panel = shownPanel();
    for (const QString &name : clicks)
        QTest::mouseClick(child<QToolButton>(panel.get(), qPrintable(name)), Qt::LeftButton);
    for (const QString &name : group)
        QCOMPARE(child<QToolButton>(panel.get(), qPrintable(name))->isChecked(), name == checked);
}

void TestMainWindowTransform::fieldsReadTheCLocale()
{
    // A comma-decimal default locale must not let "1,5" through to a reader that sees 0.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto panel = shownPanel();
    auto *edit = child<QLineEdit>(panel.get(), "translateXLineEdit");
    int position = 0;
    QString text = QStringLiteral("1,5");
    QVERIFY(edit->validator()->validate(text, position) != QValidator::Acceptable);
    text = QStringLiteral("1.5");
    QCOMPARE(edit->validator()->validate(text, position), QValidator::Acceptable);

    QSignalSpy translated(panel.get(), &TransformPanel::translate);
    retype(edit, QStringLiteral("1.5"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(translated.size(), 1);
    QCOMPARE(translated.first().at(0).toDouble(), 1.5);

    retype(edit, QStringLiteral("1,5"));
    QTest::keyClick(edit, Qt::Key_Return);
    for (const QList<QVariant> &signal : translated)
        QVERIFY(signal.at(0).toDouble() != 0);
    QLocale::setDefault(QLocale::c());
}

void TestMainWindowTransform::originDialogKeepsOneChoicePerAxis()
{
    const auto panel = shownPanel();
    auto *dialog = child<TranslateToOriginDialog>(panel.get(), "translateToOriginDialog");
    QTest::mouseClick(child<QToolButton>(panel.get(), "translateToOriginToolButton"), Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->selection(), geom::Vector3f(-1, -1, -1));

    const auto click = [dialog](const char *name) {
        auto *button = child<QRadioButton>(dialog, name);
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    };
    click("zNoneRadioButton");
    QCOMPARE(dialog->selection(), geom::Vector3f(-1, -1, -2));
    QCOMPARE(child<QRadioButton>(dialog, "zMinRadioButton")->isChecked(), false);
    click("xMinRadioButton");
    QVERIFY(child<QRadioButton>(dialog, "xMinRadioButton")->isChecked());
    QCOMPARE(dialog->selection(), geom::Vector3f(-1, -1, -2));

    emit child<QLabel>(dialog, "centerLabel")->linkActivated(QStringLiteral("center"));
    QCOMPARE(dialog->selection(), geom::Vector3f(0, 0, 0));
    emit child<QLabel>(dialog, "centerLabel")->linkActivated(QStringLiteral("center"));
    QCOMPARE(dialog->selection(), geom::Vector3f(0, 0, 0));
    emit child<QLabel>(dialog, "noneLabel")->linkActivated(QStringLiteral("none"));
    QCOMPARE(dialog->selection(), geom::Vector3f(-2, -2, -2));
    emit child<QLabel>(dialog, "maxLabel")->linkActivated(QStringLiteral("max"));
    QCOMPARE(dialog->selection(), geom::Vector3f(1, 1, 1));
    int checkedCount = 0;
    for (QRadioButton *button : dialog->findChildren<QRadioButton *>())
        checkedCount += button->isChecked() ? 1 : 0;
    QCOMPARE(checkedCount, 3);
    dialog->close();
}

void TestMainWindowTransform::translateToOrigin_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("emitted");
    QTest::newRow("apply twice") << "Apply" << 2;
    QTest::newRow("ok") << "OK" << 1;
    QTest::newRow("cancel") << "Cancel" << 0;
}

void TestMainWindowTransform::translateToOrigin()
{
    QFETCH(QString, button);
    QFETCH(int, emitted);
    const auto panel = shownPanel();
    panel->setBoundsMinimum(geom::Vector3f(-5, -2, 0));
    panel->setBoundsMaximum(geom::Vector3f(5, 4, 10));
    auto *dialog = child<TranslateToOriginDialog>(panel.get(), "translateToOriginDialog");
    QTest::mouseClick(child<QToolButton>(panel.get(), "translateToOriginToolButton"), Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    for (const char *name : {"yCenterRadioButton", "zNoneRadioButton"}) {
        auto *radio = child<QRadioButton>(dialog, name);
        QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, radio->rect().center());
    }
    QSignalSpy translated(panel.get(), &TransformPanel::translate);
    auto *box = child<QDialogButtonBox>(dialog, "buttonBox");
    const QDialogButtonBox::StandardButton which = button == QLatin1String("Apply") ? QDialogButtonBox::Apply
                                                   : button == QLatin1String("OK")  ? QDialogButtonBox::Ok
                                                                                   : QDialogButtonBox::Cancel;
    QTest::mouseClick(box->button(which), Qt::LeftButton);
    if (which == QDialogButtonBox::Apply) {
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(box->button(which), Qt::LeftButton);
    } else {
        QVERIFY(!dialog->isVisible());
    }
    QCOMPARE(translated.size(), emitted);
    for (const QList<QVariant> &signal : translated)
        QCOMPARE(argumentsOf(signal), (Offsets{5, -1, 0}));
    dialog->close();
}

void TestMainWindowTransform::undoRedoSwapsExactMatrices()
{
    QTemporaryDir dir;
    const auto window = windowWithBox(dir.path());
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    QTest::mouseClick(child<QToolButton>(panel, "rotateXToolButton"), Qt::LeftButton);
    retype(child<QLineEdit>(panel, "rotateLineEdit"), QStringLiteral("33.3"));
    QTest::keyClick(child<QLineEdit>(panel, "rotateLineEdit"), Qt::Key_Return);
    const QMatrix4x4 before = modelMatrix(window.get());
    const geom::Cuboid boundsBefore = sceneBounds(window.get());
    retype(child<QLineEdit>(panel, "scaleXLineEdit"), QStringLiteral("1.7"));
    QTest::keyClick(child<QLineEdit>(panel, "scaleXLineEdit"), Qt::Key_Return);
    const QMatrix4x4 after = modelMatrix(window.get());
    QVERIFY(!sameBits(before, after));
    QCOMPARE(undoStack(window.get())->count(), 2);

    auto *undo = window->findChild<QAction *>(QStringLiteral("action_Undo"));
    auto *redo = window->findChild<QAction *>(QStringLiteral("action_Redo"));
    const auto trigger = [&](QAction *named, QUndoStack *stack, bool forward) {
        if (named)
            named->trigger();
        else if (forward)
            stack->redo();
        else
            stack->undo();
    };
    trigger(undo, undoStack(window.get()), false);
    QVERIFY(sameBits(modelMatrix(window.get()), before));
    QCOMPARE(sceneBounds(window.get()).min(), boundsBefore.min());
    QCOMPARE(sceneBounds(window.get()).max(), boundsBefore.max());
    trigger(redo, undoStack(window.get()), true);
    QVERIFY(sameBits(modelMatrix(window.get()), after));
    trigger(undo, undoStack(window.get()), false);
    trigger(redo, undoStack(window.get()), true);
    QVERIFY(sameBits(modelMatrix(window.get()), after));

    // A null change is still a step of its own.
    QTest::mouseClick(child<QToolButton>(panel, "translateUpToolButton"), Qt::LeftButton);
    QCOMPARE(undoStack(window.get())->count(), 3);
    QVERIFY(sameBits(modelMatrix(window.get()), after));
}

void TestMainWindowTransform::turnsAndScalesAboutTheModelOrigin()
{
    QTemporaryDir dir;
    const auto window = windowWithBox(dir.path());
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    // The box's centre, its model origin, starts at (2, 1, 1.5).
    retype(child<QLineEdit>(panel, "translateXLineEdit"), QStringLiteral("10"));
    QTest::keyClick(child<QLineEdit>(panel, "translateXLineEdit"), Qt::Key_Return);
    retype(child<QLineEdit>(panel, "rotateLineEdit"), QStringLiteral("90"));
    QTest::keyClick(child<QLineEdit>(panel, "rotateLineEdit"), Qt::Key_Return);
    geom::Cuboid bounds = sceneBounds(window.get());
    QVERIFY(near(toQ(bounds.min()), QVector3D(11, -2, 0), 1e-4f));
    QVERIFY(near(toQ(bounds.max()), QVector3D(13, 4, 3), 1e-4f));

    retype(child<QLineEdit>(panel, "scaleXLineEdit"), QStringLiteral("2"));
    QTest::mouseClick(child<QToolButton>(panel, "applyScaleToolButton"), Qt::LeftButton);
    bounds = sceneBounds(window.get());
    QVERIFY(near(toQ(bounds.min()), QVector3D(10, -5, -1.5f), 1e-4f));
    QVERIFY(near(toQ(bounds.max()), QVector3D(14, 7, 4.5f), 1e-4f));
    QVERIFY(near(modelMatrix(window.get()).column(3).toVector3D(), QVector3D(12, 1, 1.5f), 1e-4f));

    // The transform panel was handed the same bounds.
    QVERIFY(near(toQ(panel->boundsMinimum()), toQ(bounds.min()), 0));
    QVERIFY(near(toQ(panel->boundsMaximum()), toQ(bounds.max()), 0));
}

void TestMainWindowTransform::pushAfterUndosDropsTheRedo()
{
    QTemporaryDir dir;
    const auto window = windowWithBox(dir.path());
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    auto *up = child<QToolButton>(panel, "translateUpToolButton");
    retype(child<QLineEdit>(panel, "translateZLineEdit"), QStringLiteral("1"));
    const QMatrix4x4 start = modelMatrix(window.get());
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(up, Qt::LeftButton);
    QUndoStack *stack = undoStack(window.get());
    stack->undo();
    stack->undo();
    QVERIFY(stack->canRedo());
    QTest::mouseClick(child<QToolButton>(panel, "rotateUpToolButton"), Qt::LeftButton);
    QCOMPARE(stack->count(), 2);
    QCOMPARE(stack->index(), 2);
    QVERIFY(!stack->canRedo());
    stack->undo();
    stack->undo();
    QVERIFY(sameBits(modelMatrix(window.get()), start));

    // Closing the file forgets the steps and the placement.
    window->closeFile();
    QCOMPARE(stack->count(), 0);
    QVERIFY(modelMatrix(window.get()).isIdentity());
}

void TestMainWindowTransform::noModelNoCommand()
{
    const auto window = widgettest::shownMainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    QTest::mouseClick(child<QToolButton>(panel, "translateUpToolButton"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(panel, "rotateUpToolButton"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(panel, "applyMirrorToolButton"), Qt::LeftButton);
    window->rotateFacetDownward(QVector3D(0, 0, 10), QVector3D(0, 0, -10));
    QCOMPARE(undoStack(window.get())->count(), 0);
    QVERIFY(modelMatrix(window.get()).isIdentity());
}

void TestMainWindowTransform::layFacetFlat_data()
{
    QTest::addColumn<QString>("mirror");
    QTest::addColumn<QVector3D>("from");
    QTest::addColumn<QVector3D>("to");
    QTest::addColumn<QVector3D>("facing");
    QTest::addColumn<int>("commands");
    // Rays in world space at the box (-1, 0, 0) to (5, 2, 3), as a click unprojects them.
    const QVector3D plusX(20, 1.2f, 1.3f), minusX(-20, 1.2f, 1.3f);
    const QVector3D above(2.2f, 1.2f, 20), below(2.2f, 1.2f, -20);
    for (const QString &mirror : {QString(), QStringLiteral("X"), QStringLiteral("Z")}) {
        const QString prefix =
            mirror.isEmpty() ? QStringLiteral("box") : QStringLiteral("mirrored in ") + mirror;
        QTest::addRow("%s: side facet", qPrintable(prefix))
            << mirror << plusX << minusX << QVector3D(1, 0, 0) << 1;
        QTest::addRow("%s: top facet", qPrintable(prefix))
            << mirror << above << below << QVector3D(0, 0, 1) << 1;
        QTest::addRow("%s: bottom facet", qPrintable(prefix))
            << mirror << below << above << QVector3D(0, 0, -1) << 0;
        QTest::addRow("%s: miss", qPrintable(prefix))
            << mirror << QVector3D(20, 30, 1) << QVector3D(-20, 30, 1) << QVector3D() << 0;
    }
}

void TestMainWindowTransform::layFacetFlat()
{
    QFETCH(QString, mirror);
    QFETCH(QVector3D, from);
    QFETCH(QVector3D, to);
    QFETCH(QVector3D, facing);
    QFETCH(int, commands);
    QTemporaryDir dir;
    const auto window = windowWithBox(dir.path());
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    if (!mirror.isEmpty()) {
        const QString name = QStringLiteral("mirror%1ToolButton").arg(mirror);
        QTest::mouseClick(child<QToolButton>(panel, qPrintable(name)), Qt::LeftButton);
        QTest::mouseClick(child<QToolButton>(panel, "applyMirrorToolButton"), Qt::LeftButton);
    }
    QUndoStack *stack = undoStack(window.get());
    const int before = stack->count();
    const QMatrix4x4 start = modelMatrix(window.get());
    // The facets the ray meets first: those facing it on the box's side it enters.
    QVector<int> clicked;
    const QVector<QVector3D> normals = worldNormals(mesh(window.get()), start);
    for (int i = 0; i < normals.size(); ++i) {
        if (near(normals.at(i), facing))
            clicked << i;
    }

    window->rotateFacetDownward(from, to);
    QCOMPARE(stack->count(), before + commands);
    if (commands == 0) {
        QVERIFY(sameBits(modelMatrix(window.get()), start));
        return;
    }
    QVERIFY(!clicked.isEmpty());
    const QVector<QVector3D> turned = worldNormals(mesh(window.get()), modelMatrix(window.get()));
    for (int i : clicked)
        QVERIFY2(near(turned.at(i), QVector3D(0, 0, -1), 1e-6f),
                 qPrintable(QStringLiteral("facet %1 faces (%2, %3, %4)")
                                .arg(i)
                                .arg(turned.at(i).x())
                                .arg(turned.at(i).y())
                                .arg(turned.at(i).z())));
    // The turn is about the model origin, and one undo brings the placement back exactly.
    QVERIFY(near(modelMatrix(window.get()).column(3).toVector3D(), start.column(3).toVector3D(), 1e-5f));
    stack->undo();
    QVERIFY(sameBits(modelMatrix(window.get()), start));
}

void TestMainWindowTransform::transformedModelSavesAsShown_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("plyFormat");
    QTest::newRow("stl") << "moved.stl"
                         << "STL Files (*.stl)" << QString();
    QTest::newRow("ply") << "moved.ply"
                         << "Polygon Files (*.ply)"
                         << "Binary Little Endian";
    QTest::newRow("qrn") << "moved.qrn"
                         << "Quarn Files (*.qrn)" << QString();
}

void TestMainWindowTransform::transformedModelSavesAsShown()
{
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, plyFormat);
    QTemporaryDir dir;
    const auto window = windowWithBox(dir.path());
    auto *panel = child<TransformPanel>(window.get(), "transformPanel");
    retype(child<QLineEdit>(panel, "translateXLineEdit"), QStringLiteral("7"));
    retype(child<QLineEdit>(panel, "translateZLineEdit"), QStringLiteral("-2"));
    QTest::mouseClick(child<QToolButton>(panel, "translateUpToolButton"), Qt::LeftButton);
    retype(child<QLineEdit>(panel, "rotateLineEdit"), QStringLiteral("30"));
    QTest::mouseClick(child<QToolButton>(panel, "rotateUpToolButton"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(panel, "mirrorYToolButton"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(panel, "applyMirrorToolButton"), Qt::LeftButton);
    retype(child<QLineEdit>(panel, "scaleXLineEdit"), QStringLiteral("1.5"));
    QTest::mouseClick(child<QToolButton>(panel, "applyScaleToolButton"), Qt::LeftButton);
    QCOMPARE(undoStack(window.get())->count(), 4);
    QVERIFY(modelMatrix(window.get()).determinant() < 0);
    const geom::Cuboid shown = sceneBounds(window.get());
    const double volume = mesh(window.get())->volume() * 1.5 * 1.5 * 1.5;

    const QString path = QFileInfo(dir.filePath(name)).absoluteFilePath();
    {
        ModalDialogAnswerer answerer({chooseFile(path, filter), chooseItem(plyFormat)});
        window->findChild<QAction *>(QStringLiteral("action_Save_As"))->trigger();
    }
    QVERIFY(QFileInfo::exists(path));
    window->openFile(path);
    QCOMPARE(undoStack(window.get())->count(), 0);
    const geom::Cuboid reopened = sceneBounds(window.get());
    QVERIFY(near(toQ(reopened.min()), toQ(shown.min()), 1e-4f));
    QVERIFY(near(toQ(reopened.max()), toQ(shown.max()), 1e-4f));
    QVERIFY(volume > 0);
    QVERIFY(qAbs(mesh(window.get())->volume() - volume) < 1e-3 * volume);

    if (name.endsWith(QLatin1String(".stl"))) {
        // An independent check of the facets' orientation.
        QProcess admesh;
        admesh.start(QStringLiteral("admesh"), {path});
        QVERIFY(admesh.waitForFinished(30000));
        const QString report = QString::fromLocal8Bit(admesh.readAllStandardOutput());
        QRegularExpression reversed(QStringLiteral("Facets reversed\\s*:\\s*(\\d+)"));
        QRegularExpression backwards(QStringLiteral("Backwards edges\\s*:\\s*(\\d+)"));
        const QRegularExpressionMatch r = reversed.match(report);
        const QRegularExpressionMatch b = backwards.match(report);
        QVERIFY2(r.hasMatch() && b.hasMatch(), qPrintable(report));
        QCOMPARE(r.captured(1).toInt(), 0);
        QCOMPARE(b.captured(1).toInt(), 0);
    }
}

QTEST_MAIN(TestMainWindowTransform)
#include "tst_mainwindowtransform.moc"
