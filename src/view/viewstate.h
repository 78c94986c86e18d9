#pragma once

#include <QMetaType>
#include <QQuaternion>
#include <QVector3D>

// A camera snapshot passed by value between the view and its owner. The default has zero
// vectors and the identity orientation; whoever builds a state fills the two scales.
struct ViewState
{
    QVector3D center;        // the scene centre when the state was taken
    QVector3D offset;        // camera position minus center
    QQuaternion orientation; // camera to world; the camera looks along its local -z
    qreal radiusScale = 1.0; // parallel projection only
    qreal zoom = 1.0;        // parallel projection only
};

Q_DECLARE_METATYPE(ViewState)
