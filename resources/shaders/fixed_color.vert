#version 150 compatibility
#define USE_CLIP_VERTEX 0
// One flat colour for lines and picking; clipped like the fixed program.

uniform vec4 clipPlane[2];

void main()
{
    vec4 vertex = gl_ModelViewMatrix * gl_Vertex;
    gl_Position = ftransform();
#if USE_CLIP_VERTEX
    gl_ClipVertex = vertex;
#else
    gl_ClipDistance[0] = clipPlane[0] != vec4(0.0) ? dot(vertex, clipPlane[0]) : 0.0;
    gl_ClipDistance[1] = clipPlane[1] != vec4(0.0) ? dot(vertex, clipPlane[1]) : 0.0;
#endif
}
