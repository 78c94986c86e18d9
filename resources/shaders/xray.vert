#version 150 compatibility
#define USE_CLIP_VERTEX 0
// A transparent shell whose opacity grows towards the silhouette; fragments within the highlight
// height of clip plane 0 are drawn opaque.

uniform vec4 clipPlane[2];
uniform float clipHighlight;

out vec3 eyeNormal;
out vec3 eyePosition;
out vec4 surfaceColor;
out float clipDistance0;

void main()
{
    vec4 vertex = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = vertex.xyz;
    eyeNormal = gl_NormalMatrix * gl_Normal;
    surfaceColor = gl_Color;
    gl_Position = ftransform();
    clipDistance0 = clipPlane[0] != vec4(0.0) ? dot(vertex, clipPlane[0]) : clipHighlight + 0.00001;
#if USE_CLIP_VERTEX
    gl_ClipVertex = vertex;
#else
    gl_ClipDistance[0] = clipPlane[0] != vec4(0.0) ? dot(vertex, clipPlane[0]) : 0.0;
    gl_ClipDistance[1] = clipPlane[1] != vec4(0.0) ? dot(vertex, clipPlane[1]) : 0.0;
#endif
}
