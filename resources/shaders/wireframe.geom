#version 150 compatibility
// Gives each corner of a triangle its barycentric height vector, interpolated in screen space, so
// that the fragment stage knows its distance to the nearest edge.

layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

in vec4 vertexFrontColor[];
in vec4 vertexBackColor[];
in float vertexClip0[];
in float vertexClip1[];

out vec4 frontColor;
out vec4 backColor;
noperspective out vec3 heights;

void main()
{
    for (int k = 0; k < 3; ++k) {
        heights = vec3(0.0);
        heights[k] = 1.0;
        frontColor = vertexFrontColor[k];
        backColor = vertexBackColor[k];
        gl_Position = gl_in[k].gl_Position;
        gl_ClipDistance[0] = vertexClip0[k];
        gl_ClipDistance[1] = vertexClip1[k];
        EmitVertex();
    }
    EndPrimitive();
}
