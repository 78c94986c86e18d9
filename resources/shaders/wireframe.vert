#version 150 compatibility
// Solid fill and edges in one pass: this stage lights the vertex two-sided (back faces in
// backFillColor); the geometry stage adds the distances to the edges.

uniform vec4 clipPlane[2];
uniform bool lighting;
uniform vec4 backFillColor;

out vec4 vertexFrontColor;
out vec4 vertexBackColor;
out float vertexClip0;
out float vertexClip1;

vec4 lit(vec4 color, gl_MaterialParameters material, float nDotL, vec3 n, vec3 halfVector)
{
    vec4 result = material.emission + color * (gl_LightModel.ambient + gl_LightSource[0].ambient)
        + color * gl_LightSource[0].diffuse * nDotL
        + material.specular * gl_LightSource[0].specular * pow(max(dot(n, halfVector), 0.0), material.shininess);
    return vec4(clamp(result.rgb, 0.0, 1.0), color.a);
}

vec4 unlit(vec4 color, gl_MaterialParameters material)
{
    return vec4(clamp((material.emission + color * (gl_LightModel.ambient + gl_LightSource[0].ambient)).rgb, 0.0, 1.0),
                color.a);
}

void main()
{
    vec4 vertex = gl_ModelViewMatrix * gl_Vertex;
    gl_Position = gl_ProjectionMatrix * vertex;
    vertexClip0 = clipPlane[0] != vec4(0.0) ? dot(vertex, clipPlane[0]) : 0.0;
    vertexClip1 = clipPlane[1] != vec4(0.0) ? dot(vertex, clipPlane[1]) : 0.0;

    if (!lighting) {
        vertexFrontColor = gl_Color;
        vertexBackColor = backFillColor;
        return;
    }
    vec3 n = normalize(gl_NormalMatrix * gl_Normal);
    vec4 lightPosition = gl_LightSource[0].position;
    vec3 toLight = lightPosition.w == 0.0 ? normalize(lightPosition.xyz)
                                          : normalize(lightPosition.xyz - vertex.xyz / vertex.w);
    vec3 halfVector = normalize(toLight + vec3(0.0, 0.0, 1.0));
    float nDotL = dot(n, toLight);
    if (nDotL > 0.00001) {
        vertexFrontColor = lit(gl_Color, gl_FrontMaterial, nDotL, n, halfVector);
        vertexBackColor = unlit(backFillColor, gl_BackMaterial);
    } else if (nDotL < -0.00001) {
        vertexFrontColor = unlit(gl_Color, gl_FrontMaterial);
        vertexBackColor = lit(backFillColor, gl_BackMaterial, -nDotL, -n, halfVector);
    } else {
        vertexFrontColor = unlit(gl_Color, gl_FrontMaterial);
        vertexBackColor = unlit(backFillColor, gl_BackMaterial);
    }
}
