#version 150 compatibility
// Edges as a soft line of lineWidth pixels over the face colour, edges only, or the face only.

uniform vec4 wireColor = vec4(0.0, 0.0, 0.0, 1.0);
uniform bool wireframe = false;
uniform bool fill = true;
uniform float lineWidth = 1.3;

in vec4 frontColor;
in vec4 backColor;
noperspective in vec3 heights;

void main()
{
    if (!wireframe && !fill)
        discard;
    vec3 dx = dFdx(heights);
    vec3 dy = dFdy(heights);
    vec3 squared = heights * heights / (dx * dx + dy * dy);
    float distance = sqrt(min(squared.x, min(squared.y, squared.z)));
    float d = distance / (0.5 * lineWidth);
    float intensity = exp2(-2.0 * d * d);
    vec4 face = gl_FrontFacing ? frontColor : backColor;
    if (wireframe && fill)
        gl_FragColor = mix(face, wireColor, intensity);
    else if (wireframe)
        gl_FragColor = vec4(wireColor.rgb, intensity);
    else
        gl_FragColor = face;
}
