#pragma once
// What a saved project keeps of the 3D view's camera, as plain values: the
// zoom, the model-view matrix and the render centre. The view's camera
// converts to and from it (ViewCamera::state, ViewCamera::setState), so that
// the project code stores the view without knowing the camera or the view.
struct CameraState {
    double zoom = 2.0; // pixels per millimetre
    // Column order, as GL_MODELVIEW_MATRIX.
    double modelView[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double renderCenter[3] = {0, 0, 0};
};
