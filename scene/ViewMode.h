#pragma once
// The two modes the panels and the drawing pass around. Both keep the numbers
// they always had: the object style is stored in project files.

// What a mouse action in the 3D view does; the tool panels set it.
enum class ViewMode : int {
    Select = 0,        // click or rubber band selects objects
    Transform = 1,     // the manipulator moves and rotates the selection
    ZoomStep = 2,      // set for the length of one wheel step
    Pan = 3,           // a left drag pans
    Rotate = 4,        // a left drag rotates
    DeleteSupport = 5, // the support under the cursor is marked; a click deletes it
    AddSupport = 6,    // a cone follows the cursor; a click adds it
    PlaceHoles = 7,    // drain holes follow the cursor, a click adds, a right click removes
    Hollowing = 8,     // the hollowing panel is open; no own mouse handling
};

// How an object's mesh is drawn.
enum class MeshStyle : int {
    Filled = 0,          // shaded triangles
    FilledWithEdges = 1, // shaded triangles with black edges over them
    EdgesOnly = 2,       // black edges only
};

// The style stored as number (0 to 2); anything else reads as Filled.
inline MeshStyle meshStyleFromNumber(int number) {
    return number >= 0 && number <= 2 ? static_cast<MeshStyle>(number) : MeshStyle::Filled;
}
