#version 150 compatibility

uniform float edgeFalloff;
uniform float clipHighlight;
uniform vec4 backFillColor;

in vec3 eyeNormal;
in vec3 eyePosition;
in vec4 surfaceColor;
in float clipDistance0;

void main()
{
    if (clipDistance0 >= clipHighlight) {
        float facing = abs(dot(normalize(-eyeNormal), normalize(-eyePosition)));
        float opacity = 1.0 - pow(facing * surfaceColor.a, edgeFalloff);
        gl_FragColor = vec4(opacity * surfaceColor.rgb, opacity);
    } else {
        gl_FragColor = vec4(surfaceColor.rgb, 1.0);
    }
}
